# Packages, made with `cpack` in a build folder: a Debian package of the Linux
# build (libraries, headers, command, CMake and pkg-config files), and a zip of
# the Windows build's DLLs, command and headers.
set(CPACK_PACKAGE_NAME mirdcng)
set(CPACK_PACKAGE_VENDOR "mirdcng developers")
set(CPACK_PACKAGE_CONTACT "mirdcng developers <mirdcng-developers@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mirdcng-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  # Runtime dependencies (the C++ runtime, libcrypto) as the binaries need them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
