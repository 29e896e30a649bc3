# Tests of a cross build run their programs under CMAKE_CROSSCOMPILING_EMULATOR
# (cmake/wine-run.sh for the Windows build). Its environment is prepared once,
# before the first of them, and released after the last: every such test
# requires the "emulator" fixture, through mirdcng_emulated_tests.
if(MIRDCNG_BUILD_TESTS AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME emulator_start COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --start)
  add_test(NAME emulator_stop COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --stop)
  set_tests_properties(emulator_start PROPERTIES FIXTURES_SETUP emulator)
  set_tests_properties(emulator_stop PROPERTIES FIXTURES_CLEANUP emulator)
endif()

# mirdcng_emulated_tests(tests...): the named tests, of the calling directory,
# run programs of this build (under the emulator, when there is one).
function(mirdcng_emulated_tests)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set_tests_properties(${ARGN} PROPERTIES FIXTURES_REQUIRED emulator)
  endif()
endfunction()
