# A project that seals its files at build time through the installed package:
# the example under examples/seal, built with Ninja over 200 generated files.
# Every file is sealed, a few decrypt back to their sources, a second build
# does nothing, and after one source is touched exactly that one file is
# sealed again (its output alone changes: a new seal has a new IV). A build
# for another system takes the command from the build machine's PATH, not
# the package's.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

set(prefix ${WORK_DIR}/prefix)
set(example ${SOURCE_DIR}/examples/seal)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
set(assets ${WORK_DIR}/assets)
foreach(folder RANGE 9)
  foreach(file RANGE 19)
    string(REPEAT "asset ${folder}/${file}\n" ${file} content)
    file(WRITE ${assets}/folder${folder}/file${file}.txt "first line\n${content}")
  endforeach()
endforeach()

set(build ${WORK_DIR}/build)
run(${CMAKE_COMMAND} -S ${example} -B ${build} -G Ninja -DCMAKE_PREFIX_PATH=${prefix}
    -DASSETS_DIR=${assets})
run(${CMAKE_COMMAND} --build ${build})

# sums(VARIABLE): each output's name and hash, in order.
function(sums variable)
  file(GLOB_RECURSE outputs RELATIVE ${build}/assets ${build}/assets/*)
  list(SORT outputs)
  set(sums "")
  foreach(output IN LISTS outputs)
    file(SHA256 ${build}/assets/${output} sum)
    list(APPEND sums "${output}=${sum}")
  endforeach()
  set(${variable} "${sums}" PARENT_SCOPE)
endfunction()
sums(first)
list(LENGTH first count)
if(NOT count EQUAL 200)
  message(FATAL_ERROR "the build sealed ${count} files, not 200")
endif()
foreach(file folder0/file0.txt folder4/file7.txt folder9/file19.txt)
  run(${prefix}/bin/mirdcng decrypt --tag-file ${example}/tag.txt
      ${build}/assets/${file} ${WORK_DIR}/back.txt --force)
  file(READ ${WORK_DIR}/back.txt back)
  file(READ ${assets}/${file} original)
  if(NOT back STREQUAL original)
    message(FATAL_ERROR "${file} does not decrypt to its source:\n${back}")
  endif()
endforeach()

run(${CMAKE_COMMAND} --build ${build})
if(NOT out MATCHES "no work to do")
  message(FATAL_ERROR "a build with nothing changed did work:\n${out}")
endif()
file(TOUCH ${assets}/folder3/file5.txt)
run(${CMAKE_COMMAND} --build ${build})
string(REGEX MATCHALL "Sealing [^\n]*" sealed "${out}")
sums(second)
set(changed "")
foreach(before after IN ZIP_LISTS first second)
  if(NOT before STREQUAL after)
    list(APPEND changed ${after})
  endif()
endforeach()
if(NOT sealed STREQUAL "Sealing folder3/file5.txt" OR NOT changed MATCHES "^folder3/file5.txt=")
  message(FATAL_ERROR "touching one source sealed ${sealed} and changed ${changed}")
endif()

# Cross-compiled: the package's command is for the target system; the one
# on the build machine's PATH seals.
file(MAKE_DIRECTORY ${WORK_DIR}/path)
file(CREATE_LINK ${prefix}/bin/mirdcng ${WORK_DIR}/path/mirdcng SYMBOLIC)
set(cross ${WORK_DIR}/cross)
run(${CMAKE_COMMAND} -E env "PATH=${WORK_DIR}/path:$ENV{PATH}"
    ${CMAKE_COMMAND} -S ${example} -B ${cross} -G Ninja -DCMAKE_SYSTEM_NAME=Windows
    -DCMAKE_PREFIX_PATH=${prefix})
file(STRINGS ${cross}/CMakeCache.txt command REGEX "^MIRDCNG_COMMAND:")
if(NOT command STREQUAL "MIRDCNG_COMMAND:FILEPATH=${WORK_DIR}/path/mirdcng")
  message(FATAL_ERROR "the cross build seals with ${command}")
endif()
run(${CMAKE_COMMAND} --build ${cross})
message(STATUS "mirdcng_seal sealed 200 files, and then the one touched alone")
