# Makes the zip of the Windows build in BUILD_DIR and checks that it holds
# what a host needs: both DLLs, the command, and the public headers.
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G ZIP -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB zip ${WORK_DIR}/*.zip)
if(NOT status EQUAL 0 OR NOT zip)
  message(FATAL_ERROR "cpack made no zip:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing)
foreach(file bin/mirdcng.dll bin/mirdutils.dll bin/mirdcng.exe
             include/mirdcng/mirdcng.h include/mirdutils/mirdutils.h)
  if(NOT listing MATCHES "/${file}")
    message(FATAL_ERROR "the zip lacks ${file}:\n${listing}")
  endif()
endforeach()
message(STATUS "the zip holds the DLLs, the command and the headers")
