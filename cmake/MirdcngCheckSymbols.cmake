# Run by cpack once the Debian packages' files are staged, before they are
# packed: dpkg-gensymbols compares the libraries as they will ship with
# packaging/debian/symbols and fails on any difference (a symbol gone, or a
# new one the file does not list), and writes the symbols file that
# libmirdcng1 carries.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
file(GLOB_RECURSE _mirdcng_library "${CPACK_TEMPORARY_DIRECTORY}/*/libmirdcng.so.1")
list(LENGTH _mirdcng_library _mirdcng_count)
if(NOT _mirdcng_count EQUAL 1)
  message(FATAL_ERROR "no single staged libmirdcng.so.1 under ${CPACK_TEMPORARY_DIRECTORY}")
endif()
string(REGEX REPLACE "/usr/.*$" "" _mirdcng_root "${_mirdcng_library}")
# dpkg-gensymbols reads the package's architecture from a debian/control.
get_filename_component(_mirdcng_work "${CPACK_MIRDCNG_SYMBOLS_MADE}" DIRECTORY)
file(REMOVE_RECURSE "${_mirdcng_work}")
file(WRITE "${_mirdcng_work}/debian/control"
     "Source: mirdcng\n\nPackage: libmirdcng1\nArchitecture: any\n")
execute_process(
  COMMAND dpkg-gensymbols -plibmirdcng1 "-P${_mirdcng_root}"
          "-v${CPACK_PACKAGE_VERSION}" "-I${CPACK_MIRDCNG_SYMBOLS}"
          "-O${CPACK_MIRDCNG_SYMBOLS_MADE}" -c4
  WORKING_DIRECTORY "${_mirdcng_work}"
  RESULT_VARIABLE _mirdcng_status OUTPUT_VARIABLE _mirdcng_out ERROR_VARIABLE _mirdcng_out)
if(NOT _mirdcng_status EQUAL 0)
  message(FATAL_ERROR "the libraries' symbols are not those of ${CPACK_MIRDCNG_SYMBOLS}:\n"
                      "${_mirdcng_out}")
endif()
