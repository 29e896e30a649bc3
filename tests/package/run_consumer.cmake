# Installs the build in BUILD_DIR into a scratch prefix, then builds the
# example host against it as a separate project (find_package), runs it, and
# compiles a host against the pkg-config file too.
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)
run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run(${CMAKE_COMMAND} -S ${EXAMPLES_DIR} -B ${WORK_DIR}/example -G Ninja
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/example)
run(${CMAKE_CTEST_COMMAND} --test-dir ${WORK_DIR}/example --output-on-failure)
run(${prefix}/bin/mirdcng --version)

# pkg-config, where it is installed: the file made at configure time names the
# configured prefix, so it is pointed at the scratch one.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pc_file ${prefix}/lib*/pkgconfig/mirdcng.pc ${prefix}/lib/*/pkgconfig/mirdcng.pc)
  get_filename_component(pc_dir "${pc_file}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} ${pc_dir})
  execute_process(COMMAND ${PKG_CONFIG} --define-variable=prefix=${prefix}
                          --cflags --libs mirdcng
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know mirdcng")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run(${CXX_COMPILER} -std=c++20 ${EXAMPLES_DIR}/host.cc ${flags}
      -Wl,-rpath,${pc_dir}/.. -o ${WORK_DIR}/host_pkgconfig)
  configure_file(${EXAMPLES_DIR}/sample.txt ${WORK_DIR}/sample.EBS COPYONLY)
  run(${WORK_DIR}/host_pkgconfig ${WORK_DIR}/sample.EBS demo)
endif()
message(STATUS "the installed package builds and runs a host")
