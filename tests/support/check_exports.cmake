cmake_minimum_required(VERSION 3.25)
# Checks the dynamic symbols and the SONAME of a shared library:
#   LIBRARY  the library file
#   EXPORTS  the names it must export, "|"-separated; nothing else is allowed
#            but the version node VERSION_NODE
#   SONAME   the SONAME it must carry
string(REPLACE "|" ";" exports "${EXPORTS}")
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
set(found "")
string(REPLACE "\n" ";" lines "${symbols}")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^.* ([^ ]+)$" "\\1" name "${line}")
  string(REGEX REPLACE "@.*$" "" name "${name}")
  if(name IN_LIST exports)
    list(APPEND found ${name})
  elseif(NOT name STREQUAL "${VERSION_NODE}")
    message(FATAL_ERROR "unexpected exported symbol: ${line}")
  endif()
endforeach()
foreach(name IN LISTS exports)
  if(NOT name IN_LIST found)
    message(FATAL_ERROR "${name} is not exported")
  endif()
endforeach()

execute_process(COMMAND objdump -p ${LIBRARY}
                OUTPUT_VARIABLE headers RESULT_VARIABLE status)
string(REPLACE "." "\\." soname_pattern "${SONAME}")
if(NOT status EQUAL 0 OR NOT headers MATCHES "SONAME +${soname_pattern}\n")
  message(FATAL_ERROR "${LIBRARY} does not carry the SONAME ${SONAME}")
endif()
message(STATUS "exports: ${symbols}")
