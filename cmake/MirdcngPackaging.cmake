# Packages, made with `cpack` in a build folder: Debian packages of the Linux
# build, one per install component (cmake/MirdcngInstall.cmake), and a zip of
# the Windows build's DLLs, command and headers.
set(CPACK_PACKAGE_NAME mirdcng)
set(CPACK_PACKAGE_VENDOR "mirdcng developers")
set(MIRDCNG_PACKAGE_CONTACT "mirdcng developers <developers@mirdcng.example>"
    CACHE STRING "The packages' maintainer: a name and a mail address")
set(CPACK_PACKAGE_CONTACT "${MIRDCNG_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_CHECKSUM SHA256)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mirdcng-${PROJECT_VERSION}-windows-x86_64)
else()
  include(cmake/MirdcngDebian.cmake)
endif()

include(CPack)
