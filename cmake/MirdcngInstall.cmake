# Installation: the two shared libraries, their public headers, the command,
# a CMake package and a pkg-config file, so that a host finds it all with
#   find_package(mirdcng) ... target_link_libraries(host PRIVATE mirdcng::mirdcng)
# or with `pkg-config --cflags --libs mirdcng`. OpenSSL stays the Linux
# library's private dependency: hosts never see it.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS mirdcng mirdutils EXPORT mirdcngTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
# The public headers, in the folders they have in the source tree.
install(DIRECTORY include/mirdcng include/mirdutils
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(MIRDCNG_BUILD_TOOLS)
  install(TARGETS mirdcng_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# Installed where they like, the libraries find each other and the command
# finds them.
if(NOT WIN32 AND NOT APPLE)
  set_target_properties(mirdcng PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(MIRDCNG_BUILD_TOOLS)
    set_target_properties(mirdcng_tool PROPERTIES
      INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
  endif()
endif()

set(_mirdcng_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mirdcng)
install(EXPORT mirdcngTargets NAMESPACE mirdcng:: DESTINATION ${_mirdcng_package_dir})
configure_package_config_file(cmake/mirdcngConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfig.cmake
  INSTALL_DESTINATION ${_mirdcng_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfigVersion.cmake
        DESTINATION ${_mirdcng_package_dir})

# pkg-config: relocatable only through the prefix given at configure time,
# which is how distributions install it.
if(NOT WIN32)
  configure_file(cmake/mirdcng.pc.in ${CMAKE_CURRENT_BINARY_DIR}/mirdcng.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mirdcng.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
