# Installation: the two shared libraries, their public headers, the command,
# a CMake package and a pkg-config file, so that a host finds it all with
#   find_package(mirdcng) ... target_link_libraries(host PRIVATE mirdcng::mirdcng)
# or with `pkg-config --cflags --libs mirdcng`; and a project seals its files
# at build time with the package's mirdcng_seal() and the command it exports. OpenSSL stays the Linux
# library's private dependency: hosts never see it.
#
# Every file belongs to one component, and each component is one Debian
# package (cmake/MirdcngPackaging.cmake):
#   runtime      the shared libraries                    libmirdcng1
#   development  headers, CMake package, .pc, .so links  libmirdcng-dev
#   command      the command and what goes with it       mirdcng
#   doc          LICENSE, NOTICE and README in the install's doc folder
# Folders come from GNUInstallDirs (included by the top-level file): a build
# configured for /usr on Debian gets its multiarch library folder.
include(CMakePackageConfigHelpers)

install(TARGETS mirdcng mirdutils EXPORT mirdcngTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
          NAMELINK_COMPONENT development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
# The public headers, in the folders they have in the source tree.
install(DIRECTORY include/mirdcng include/mirdutils
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(FILES LICENSE NOTICE README.md DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT doc)

# A library folder the dynamic loader searches anyway (a distribution's build,
# configured for /usr) needs no run path, and a package must not carry one.
# Anywhere else, the libraries find each other and the command finds them
# wherever the install is put, moved later included.
list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" _mirdcng_system_libdir)
if(NOT WIN32 AND NOT APPLE AND _mirdcng_system_libdir EQUAL -1)
  set_target_properties(mirdcng PROPERTIES INSTALL_RPATH "$ORIGIN")
  if(TARGET mirdcng_tool)
    file(RELATIVE_PATH _mirdcng_bin_to_lib
         ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
    set_target_properties(mirdcng_tool PROPERTIES INSTALL_RPATH "$ORIGIN/${_mirdcng_bin_to_lib}")
  endif()
endif()

set(_mirdcng_package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/mirdcng)
install(EXPORT mirdcngTargets NAMESPACE mirdcng:: DESTINATION ${_mirdcng_package_dir}
        COMPONENT development)
configure_package_config_file(cmake/mirdcngConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfig.cmake
  INSTALL_DESTINATION ${_mirdcng_package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/mirdcngConfigVersion.cmake
              cmake/mirdcngSeal.cmake
        DESTINATION ${_mirdcng_package_dir} COMPONENT development)
# The command as the imported executable mirdcng::command, in a file of its
# own that comes with the command (its component, its package): the package
# includes it where it is there, and is whole without it.
if(TARGET mirdcng_tool)
  install(EXPORT mirdcngCommandTargets NAMESPACE mirdcng:: DESTINATION ${_mirdcng_package_dir}
          COMPONENT command)
endif()

# pkg-config: the prefix is found from the .pc file's own folder, so the file
# holds wherever the install is put or moved. Folders given as absolute paths
# stay as they are.
if(NOT WIN32)
  set(_mirdcng_pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
  if(IS_ABSOLUTE "${_mirdcng_pc_dir}")
    set(MIRDCNG_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    string(REGEX REPLACE "[^/]+" ".." _mirdcng_pc_up "${_mirdcng_pc_dir}")
    set(MIRDCNG_PC_PREFIX "\${pcfiledir}/${_mirdcng_pc_up}")
  endif()
  foreach(_mirdcng_dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${_mirdcng_dir}}")
      set(MIRDCNG_PC_${_mirdcng_dir} "${CMAKE_INSTALL_${_mirdcng_dir}}")
    else()
      set(MIRDCNG_PC_${_mirdcng_dir} "\${prefix}/${CMAKE_INSTALL_${_mirdcng_dir}}")
    endif()
  endforeach()
  configure_file(cmake/mirdcng.pc.in ${CMAKE_CURRENT_BINARY_DIR}/mirdcng.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mirdcng.pc DESTINATION ${_mirdcng_pc_dir}
          COMPONENT development)
endif()
