# Makes the zip of the Windows build in BUILD_DIR and checks that it holds
# what a host needs: both DLLs and their import libraries, the command, the
# public headers and the CMake package; and that a host built with the
# platform's own compiler finds it all with find_package on the unpacked zip
# and links with it.
#   -DBUILD_DIR=... -DWORK_DIR=...
#   -DLLD_LINK=... -DHOST_OBJECT=... -DHOST_LIBRARIES=a|b   that host: its
#      object and the system import libraries it links besides the package's
cmake_minimum_required(VERSION 3.25)
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND cpack -G ZIP -B ${WORK_DIR} --config ${BUILD_DIR}/CPackConfig.cmake
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB zip ${WORK_DIR}/*.zip)
if(NOT status EQUAL 0 OR NOT zip)
  message(FATAL_ERROR "cpack made no zip:\n${out}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E tar tf ${zip} OUTPUT_VARIABLE listing)
foreach(file bin/mirdcng.dll bin/mirdutils.dll bin/mirdcng.exe lib/mirdcng.lib
             lib/mirdutils.lib lib/cmake/mirdcng/mirdcngConfig.cmake
             include/mirdcng/mirdcng.h include/mirdutils/mirdutils.h)
  if(NOT listing MATCHES "/${file}")
    message(FATAL_ERROR "the zip lacks ${file}:\n${listing}")
  endif()
endforeach()
message(STATUS "the zip holds the DLLs, their import libraries, the command, the headers "
               "and the CMake package")

# The host's project: find_package, then a link of the host with what it names.
set(unpacked ${WORK_DIR}/unpacked)
file(MAKE_DIRECTORY ${unpacked})
execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${zip} WORKING_DIRECTORY ${unpacked})
file(GLOB root LIST_DIRECTORIES true ${unpacked}/*)
file(WRITE ${WORK_DIR}/host/CMakeLists.txt [=[
cmake_minimum_required(VERSION 3.25)
project(msvc_host LANGUAGES NONE)
find_package(mirdcng 1 REQUIRED)
string(REPLACE "|" ";" libraries "${HOST_LIBRARIES}")
foreach(target mirdcng::mirdcng mirdcng::mirdutils)
  get_target_property(library ${target} IMPORTED_IMPLIB_RELEASE)
  get_target_property(dll ${target} IMPORTED_LOCATION_RELEASE)
  get_target_property(include ${target} INTERFACE_INCLUDE_DIRECTORIES)
  if(NOT library MATCHES "/lib/(mirdcng|mirdutils)\\.lib$" OR NOT EXISTS "${dll}"
     OR NOT EXISTS "${include}/mirdutils/mirdutils.h")
    message(FATAL_ERROR "${target}: import library ${library}, DLL ${dll}, headers ${include}")
  endif()
  list(APPEND libraries ${library})
  list(APPEND found ${library})
endforeach()
execute_process(
  COMMAND ${LLD_LINK} -nologo -nodefaultlib -entry:HostMain -subsystem:console
          ${HOST_OBJECT} ${libraries} -out:${CMAKE_BINARY_DIR}/host.exe
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the host does not link with ${found}:\n${out}")
endif()
message(STATUS "the host links with ${found}")
]=])
execute_process(
  COMMAND ${CMAKE_COMMAND} -S ${WORK_DIR}/host -B ${WORK_DIR}/host/build
          -DCMAKE_PREFIX_PATH=${root} -DLLD_LINK=${LLD_LINK} -DHOST_OBJECT=${HOST_OBJECT}
          "-DHOST_LIBRARIES=${HOST_LIBRARIES}"
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the host's project fails on the unpacked zip:\n${out}")
endif()
message(STATUS "find_package(mirdcng) on the unpacked zip serves a host built in MSVC mode")
