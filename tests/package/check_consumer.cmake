# Installs the build in BUILD_DIR into a scratch prefix, other than the one it
# was configured for, and builds hosts against it (consumer.cmake); then moves
# the install to another folder and builds them again: nothing in it may name
# the folder it was installed in. The public headers are checked there too.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
include(${CMAKE_CURRENT_LIST_DIR}/consumer.cmake)

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/one)
build_consumers(${WORK_DIR}/one ${WORK_DIR}/from_one)
run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR}/headers -B ${WORK_DIR}/headers -G Ninja
    -DCMAKE_PREFIX_PATH=${WORK_DIR}/one -DCMAKE_CXX_COMPILER=${CXX_COMPILER})
run(${CMAKE_COMMAND} --build ${WORK_DIR}/headers)

file(RENAME ${WORK_DIR}/one ${WORK_DIR}/two)
build_consumers(${WORK_DIR}/two ${WORK_DIR}/from_two)
run(${WORK_DIR}/two/bin/mirdcng --version)
foreach(file LICENSE NOTICE)
  if(NOT EXISTS ${WORK_DIR}/two/share/doc/mirdcng/${file})
    message(FATAL_ERROR "the install lacks share/doc/mirdcng/${file}")
  endif()
endforeach()
message(STATUS "installs at two prefixes serve hosts through find_package and pkg-config")
