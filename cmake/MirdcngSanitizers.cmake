# Sanitizers apply to everything built here, so that a leak or overflow in any
# layer, the platform stand-in included, shows up in the test run.
set(_mirdcng_sanitizers "")
if(MIRDCNG_ASAN)
  list(APPEND _mirdcng_sanitizers address)
endif()
if(MIRDCNG_UBSAN)
  list(APPEND _mirdcng_sanitizers undefined)
endif()
if(MIRDCNG_TSAN)
  if(MIRDCNG_ASAN)
    message(FATAL_ERROR "ThreadSanitizer and AddressSanitizer cannot be combined")
  endif()
  list(APPEND _mirdcng_sanitizers thread)
endif()
if(_mirdcng_sanitizers)
  if(MSVC OR WIN32)
    message(FATAL_ERROR "The sanitizers are supported on Linux builds only")
  endif()
  if(MIRDCNG_FUZZ AND MIRDCNG_UBSAN AND NOT MIRDCNG_ASAN)
    message(FATAL_ERROR "The fuzz build wants AddressSanitizer alongside UBSan")
  endif()
  list(JOIN _mirdcng_sanitizers "," _mirdcng_sanitizer_list)
  add_compile_options(-fsanitize=${_mirdcng_sanitizer_list} -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${_mirdcng_sanitizer_list})
endif()

# The fuzz build gives libFuzzer's coverage to everything it compiles, the
# library and the pipe library above all: a harness alone would let libFuzzer
# see only its own branches, never which of the library's an input reaches.
# The harnesses add -fsanitize=fuzzer, which brings libFuzzer's main.
if(MIRDCNG_FUZZ AND CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
