# Warnings for the project's own targets only; third-party code is not ours to fix.
add_library(mirdcng_warnings INTERFACE)
if(MSVC)
  target_compile_options(mirdcng_warnings INTERFACE /W4 $<$<BOOL:${MIRDCNG_WERROR}>:/WX>)
else()
  target_compile_options(mirdcng_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
    -Wnull-dereference -Wimplicit-fallthrough
    $<$<BOOL:${MIRDCNG_WERROR}>:-Werror>)
endif()
