# Packages, made with `cpack` in a build folder: Debian packages of the Linux
# build, one per install component (cmake/MirdcngInstall.cmake), and a zip of
# the Windows build's DLLs, command and headers.
set(CPACK_PACKAGE_NAME mirdcng)
set(CPACK_PACKAGE_VENDOR "mirdcng developers")
# Whoever publishes the packages maintains them: their name and address, here
# or, as Debian's own tools take it, in DEBEMAIL (and DEBFULLNAME) when cpack
# runs (cmake/MirdcngCPackChecks.cmake). There is no default to pass for one.
set(MIRDCNG_PACKAGE_CONTACT "" CACHE STRING
    "The packages' maintainer, \"Name <address>\"; empty: DEBEMAIL when cpack runs")
set(CPACK_PACKAGE_CONTACT "${MIRDCNG_PACKAGE_CONTACT}")
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
