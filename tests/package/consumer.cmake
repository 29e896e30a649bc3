# build_consumers(PREFIX WORK): builds and runs the example host against the
# mirdcng installed in PREFIX, in the two ways a host developer would: as a
# CMake project that calls find_package, and with the README's pkg-config
# line, run as it is written there. Both must find PREFIX's files, never the
# prefix the build was configured for. Needs SOURCE_DIR and CXX_COMPILER.
include(${CMAKE_CURRENT_LIST_DIR}/run.cmake)

function(build_consumers prefix work)
  run(${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${work}/example -G Ninja
      -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
  run(${CMAKE_COMMAND} --build ${work}/example)
  run(${CMAKE_CTEST_COMMAND} --test-dir ${work}/example --output-on-failure)

  file(GLOB pc_file ${prefix}/lib*/pkgconfig/mirdcng.pc ${prefix}/lib/*/pkgconfig/mirdcng.pc)
  if(NOT pc_file)
    message(FATAL_ERROR "no mirdcng.pc under ${prefix}")
  endif()
  get_filename_component(pc_dir ${pc_file} DIRECTORY)
  get_filename_component(lib_dir ${pc_dir} DIRECTORY)
  set(pkg_config ${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${pc_dir})
  run(${pkg_config} pkg-config --variable=includedir mirdcng)
  string(STRIP "${out}" includedir)
  file(REAL_PATH "${includedir}" includedir)
  if(NOT includedir STREQUAL "${prefix}/include")
    message(FATAL_ERROR "mirdcng.pc in ${prefix} names the headers in ${includedir}")
  endif()

  file(STRINGS ${SOURCE_DIR}/README.md command REGEX "^c\\+\\+ .*pkg-config")
  list(LENGTH command count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "the README has ${count} pkg-config lines, not one: ${command}")
  endif()
  file(MAKE_DIRECTORY ${work}/pkgconfig)
  file(COPY ${SOURCE_DIR}/examples/host.cc DESTINATION ${work}/pkgconfig)
  execute_process(COMMAND ${pkg_config} sh -c "${command}" WORKING_DIRECTORY ${work}/pkgconfig
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "the README's line failed against ${prefix}: ${command}\n${out}")
  endif()
  configure_file(${SOURCE_DIR}/examples/sample.txt ${work}/pkgconfig/sample.EBS COPYONLY)
  run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_dir}
      ${work}/pkgconfig/host ${work}/pkgconfig/sample.EBS demo)
endfunction()
