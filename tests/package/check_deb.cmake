# Makes the Debian packages as the README says (the deb preset, in a build of
# its own), checks what each holds and depends on, has lintian find no error
# in them, unpacks all three into a scratch root (as dpkg would install them,
# without touching the system), and runs the command and builds hosts from
# there. cpack must refuse to make them from BUILD_DIR, configured for
# another prefix.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/consumer.cmake)
find_program(LINTIAN lintian)
if(NOT LINTIAN)
  message(FATAL_ERROR "lintian is missing: scripts/install-deps.sh installs it")
endif()

execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/refused
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(status EQUAL 0 OR NOT out MATCHES "configured for /usr")
  message(FATAL_ERROR "cpack made Debian packages of a build not configured for /usr:\n${out}")
endif()

run(${CMAKE_COMMAND} -S ${SOURCE_DIR} --preset deb -B ${WORK_DIR}/build
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
# No maintainer named: cpack refuses and says how to name one.
unset(ENV{DEBEMAIL})
execute_process(COMMAND cpack --config ${WORK_DIR}/build/CPackConfig.cmake -B ${WORK_DIR}/refused
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(status EQUAL 0 OR NOT out MATCHES "DEBEMAIL")
  message(FATAL_ERROR "cpack made Debian packages with no maintainer:\n${out}")
endif()
# The packager, as Debian's own tools take them.
set(ENV{DEBFULLNAME} "mirdcng package test")
set(ENV{DEBEMAIL} "package-test@mirdcng.example")
run(cpack --config ${WORK_DIR}/build/CPackConfig.cmake -B ${WORK_DIR}/out)
run(dpkg-architecture -qDEB_HOST_MULTIARCH)
string(STRIP "${out}" arch)

# Every file of each package, and what it must depend on.
set(doc usr/share/doc/PACKAGE/README.md usr/share/doc/PACKAGE/changelog.Debian.gz
        usr/share/doc/PACKAGE/copyright)
set(libmirdcng1_depends "libssl")
set(libmirdcng1_files ${doc}
    usr/lib/${arch}/libmirdcng.so.1 usr/lib/${arch}/libmirdcng.so.1.0.0
    usr/lib/${arch}/libmirdutils.so.1 usr/lib/${arch}/libmirdutils.so.1.0.0)
set(libmirdcng-dev_depends "libmirdcng1 \\(= ")
set(libmirdcng-dev_files ${doc}
    usr/include/mirdcng/export.h usr/include/mirdcng/mirdcng.h
    usr/include/mirdcng/result_codes.h
    usr/include/mirdutils/export.h usr/include/mirdutils/mirdutils.h
    usr/lib/${arch}/cmake/mirdcng/mirdcngConfig.cmake
    usr/lib/${arch}/cmake/mirdcng/mirdcngConfigVersion.cmake
    usr/lib/${arch}/cmake/mirdcng/mirdcngSeal.cmake
    usr/lib/${arch}/cmake/mirdcng/mirdcngTargets-release.cmake
    usr/lib/${arch}/cmake/mirdcng/mirdcngTargets.cmake
    usr/lib/${arch}/libmirdcng.so usr/lib/${arch}/libmirdutils.so
    usr/lib/${arch}/pkgconfig/mirdcng.pc)
set(mirdcng_depends "libmirdcng1 \\(= ")
set(mirdcng_files ${doc} usr/bin/mirdcng usr/share/man/man1/mirdcng.1.gz
    usr/share/bash-completion/completions/mirdcng
    usr/lib/${arch}/cmake/mirdcng/mirdcngCommandTargets.cmake
    usr/lib/${arch}/cmake/mirdcng/mirdcngCommandTargets-release.cmake)

set(root ${WORK_DIR}/root)
set(debs "")
set(summaries "")
foreach(package libmirdcng1 libmirdcng-dev mirdcng)
  file(GLOB deb ${WORK_DIR}/out/${package}_*.deb)
  if(NOT deb)
    message(FATAL_ERROR "cpack made no ${package} package")
  endif()
  list(APPEND debs ${deb})
  run(dpkg-deb --field ${deb} Depends)
  if(NOT out MATCHES "${${package}_depends}")
    message(FATAL_ERROR "${package} does not depend on ${${package}_depends}: ${out}")
  endif()
  run(dpkg-deb --field ${deb} Maintainer Description)
  if(NOT out MATCHES "Maintainer: mirdcng package test <package-test@mirdcng.example>")
    message(FATAL_ERROR "${package} is not maintained by the packager: ${out}")
  endif()
  string(REGEX MATCH "Description: [^\n]*" summary "${out}")
  if(summary IN_LIST summaries)
    message(FATAL_ERROR "${package} has the summary of another package: ${summary}")
  endif()
  list(APPEND summaries "${summary}")
  run(dpkg-deb -x ${deb} ${WORK_DIR}/${package})
  file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${WORK_DIR}/${package}
       ${WORK_DIR}/${package}/*)
  string(REPLACE PACKAGE ${package} expected "${${package}_files}")
  list(SORT files)
  list(SORT expected)
  if(NOT files STREQUAL expected)
    message(FATAL_ERROR "${package} holds\n  ${files}\nnot\n  ${expected}")
  endif()
  run(dpkg-deb -x ${deb} ${root})
endforeach()

foreach(binary usr/bin/mirdcng usr/lib/${arch}/libmirdcng.so.1 usr/lib/${arch}/libmirdutils.so.1)
  run(readelf --dynamic ${root}/${binary})
  if(out MATCHES "RPATH|RUNPATH")
    message(FATAL_ERROR "${binary} carries a run path:\n${out}")
  endif()
endforeach()

# libmirdcng1 tells dependent packages which version has each symbol.
file(GLOB runtime ${WORK_DIR}/out/libmirdcng1_*.deb)
run(dpkg-deb -e ${runtime} ${WORK_DIR}/libmirdcng1-control)
file(STRINGS ${WORK_DIR}/libmirdcng1-control/symbols symbols)
foreach(symbol "libmirdcng.so.1 libmirdcng1 #MINVER#" " _Z7cng_77xPKcS0_S0_Ri@MIRDCNG_1 1.0.0"
               " zulwrite@MIRDUTILS_1 1.0.0")
  if(NOT symbol IN_LIST symbols)
    message(FATAL_ERROR "libmirdcng1's symbols file lacks '${symbol}':\n${symbols}")
  endif()
endforeach()

run(${LINTIAN} --fail-on error ${debs})
message(STATUS "lintian:\n${out}")

set(ENV{LD_LIBRARY_PATH} ${root}/usr/lib/${arch})
file(WRITE ${WORK_DIR}/notes.EBS "packaged round trip\n")
run(${root}/usr/bin/mirdcng encrypt ${WORK_DIR}/notes.EBS ${WORK_DIR}/sealed.EBS --tag t)
run(${root}/usr/bin/mirdcng decrypt ${WORK_DIR}/sealed.EBS ${WORK_DIR}/back.EBS --tag t)
file(READ ${WORK_DIR}/back.EBS back)
if(NOT back STREQUAL "packaged round trip\n")
  message(FATAL_ERROR "the packaged command did not round-trip: ${back}")
endif()
unset(ENV{LD_LIBRARY_PATH})
build_consumers(${root}/usr ${WORK_DIR}/consumers)
message(STATUS "the Debian packages install, and their command and files serve hosts")
