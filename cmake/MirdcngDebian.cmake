# Debian packages, the usual split of a library, one per install component:
#   libmirdcng1     runtime      the two shared libraries
#   libmirdcng-dev  development  headers, CMake package, pkg-config file, .so links
#   mirdcng         command      the command and what comes with it
# Each holds copyright, changelog.Debian.gz and the README in
# /usr/share/doc/<package>/. They come from a build configured for /usr (the
# deb preset), which has Debian's folders and no run path; cpack refuses any
# other build (cmake/MirdcngCPackChecks.cmake).
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime development command)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/MirdcngCPackChecks.cmake)
set(CPACK_MIRDCNG_DEBIAN_CHANGELOG ${PROJECT_SOURCE_DIR}/packaging/debian/changelog)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Dependencies (the C++ runtime, libcrypto, our own library) as the binaries
# need them, and libmirdcng-dev on its exact libmirdcng1.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS runtime)
set(CPACK_COMPONENT_COMMAND_DEPENDS runtime)
# dpkg-shlibdeps looks at our libraries where they are built, to see past
# them to theirs; the dependency on libmirdcng1 itself is the line above.
get_target_property(_mirdcng_library_dir mirdcng BINARY_DIR)
get_target_property(_mirdutils_library_dir mirdutils BINARY_DIR)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_mirdcng_library_dir} ${_mirdutils_library_dir})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmirdcng1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The shlibs file tells other packages' dpkg-shlibdeps what to depend on;
# ldconfig runs by trigger (CPack adds a postinst and postrm that call it too).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The symbols file tells other packages' dpkg-shlibdeps which version of
# libmirdcng1 has each symbol they use. It is checked against the libraries
# as they are packaged (cmake/MirdcngCheckSymbols.cmake, run by cpack), and
# what dpkg-gensymbols makes of it goes into the package.
set(CPACK_MIRDCNG_SYMBOLS ${PROJECT_SOURCE_DIR}/packaging/debian/symbols)
set(CPACK_MIRDCNG_SYMBOLS_MADE ${PROJECT_BINARY_DIR}/debian-control/symbols)
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/MirdcngCheckSymbols.cmake)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/triggers ${CPACK_MIRDCNG_SYMBOLS_MADE})
# Each package has a summary of its own, the first line of its description;
# the project's summary is not put before them.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "library that seals the framework's .ebs files, and its pipe library
libmirdcng encrypts the framework's .ebs files with AES-128-CBC under a
fixed key built into it, decrypts them back when given the right tag, and
opens any file, encrypted or not, as a pipe of the pipe library
libmirdutils, which comes with it. The key ships inside the library: this
obscures files from those without it and does not check their integrity.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmirdcng-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "development files for libmirdcng, which seals .ebs files
The headers of libmirdcng and libmirdutils, their CMake package
(find_package(mirdcng), with the mirdcng_seal() build step) and pkg-config
file (mirdcng), for the framework's host programs and for projects that
seal their files as they build.")

set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME mirdcng)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_COMMAND_DESCRIPTION "command to seal, unseal, verify and show the framework's .ebs files
mirdcng encrypts and decrypts the framework's .ebs files, one by one or
whole trees of them in parallel, checks them, prints them as the framework
reads them and tells their layout, through libmirdcng.")

# /usr/share/doc/<package>/ of each package. They go into the packages alone
# (EXCLUDE_FROM_ALL): a plain install has share/doc/mirdcng/ instead.
execute_process(COMMAND gzip -9n -c ${CPACK_MIRDCNG_DEBIAN_CHANGELOG}
                OUTPUT_FILE ${PROJECT_BINARY_DIR}/changelog.Debian.gz
                RESULT_VARIABLE _mirdcng_gzip_status)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CPACK_MIRDCNG_DEBIAN_CHANGELOG})
if(NOT _mirdcng_gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress ${CPACK_MIRDCNG_DEBIAN_CHANGELOG}")
endif()
foreach(_mirdcng_component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${_mirdcng_component} _mirdcng_upper)
  install(FILES packaging/debian/copyright ${PROJECT_BINARY_DIR}/changelog.Debian.gz README.md
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${_mirdcng_upper}_PACKAGE_NAME}
          COMPONENT ${_mirdcng_component} EXCLUDE_FROM_ALL)
endforeach()
