# Read by cpack before it makes each package. A Debian package comes from a
# build configured for /usr alone: any other has the wrong library folder and
# a run path. Its changelog's newest entry is the package's version.
if(CPACK_GENERATOR STREQUAL "DEB")
  if(NOT CPACK_PACKAGING_INSTALL_PREFIX STREQUAL "/usr")
    message(FATAL_ERROR "Debian packages come from a build configured for /usr "
                        "(cmake --workflow --preset deb), not for ${CPACK_PACKAGING_INSTALL_PREFIX}")
  endif()
  # The maintainer is whoever publishes the packages, taken as Debian's own
  # tools take it when no MIRDCNG_PACKAGE_CONTACT was configured.
  if(NOT CPACK_PACKAGE_CONTACT AND DEFINED ENV{DEBEMAIL})
    if("$ENV{DEBEMAIL}" MATCHES "<" OR NOT DEFINED ENV{DEBFULLNAME})
      set(CPACK_PACKAGE_CONTACT "$ENV{DEBEMAIL}")
    else()
      set(CPACK_PACKAGE_CONTACT "$ENV{DEBFULLNAME} <$ENV{DEBEMAIL}>")
    endif()
    set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  endif()
  if(NOT CPACK_PACKAGE_CONTACT)
    message(FATAL_ERROR "Debian packages name their maintainer: set DEBEMAIL=\"Name <address>\" "
                        "(as for Debian's own tools) or configure with "
                        "-DMIRDCNG_PACKAGE_CONTACT=\"Name <address>\"")
  endif()
  # Each package's description begins with a summary of its own
  # (cmake/MirdcngDebian.cmake); the project's is not put before them.
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
  set(_version "${CPACK_PACKAGE_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE}")
  file(STRINGS "${CPACK_MIRDCNG_DEBIAN_CHANGELOG}" _entry LIMIT_COUNT 1)
  if(NOT _entry MATCHES "^mirdcng \\(${_version}\\) ")
    message(FATAL_ERROR "${CPACK_MIRDCNG_DEBIAN_CHANGELOG} has no entry for ${_version} at its top")
  endif()
endif()
