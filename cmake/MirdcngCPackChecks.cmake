# Read by cpack before it makes each package. A Debian package comes from a
# build configured for /usr alone: any other has the wrong library folder and
# a run path. Its changelog's newest entry is the package's version.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "Debian packages come from a build configured for /usr "
                        "(cmake --workflow --preset deb), not for ${CPACK_PACKAGING_INSTALL_PREFIX}")
  endif()
  set(_version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
  file(STRINGS "${CPACK_MIRDCNG_DEBIAN_CHANGELOG}" _entry LIMIT_COUNT 1)
  if(NOT _entry MATCHES "^mirdcng \\(${_version}\\) ")
    message(FATAL_ERROR "${CPACK_MIRDCNG_DEBIAN_CHANGELOG} has no entry for ${_version} at its top")
  endif()
endif()
