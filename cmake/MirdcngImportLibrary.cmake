# mirdcng_import_library(TARGET DEF): on Windows, TARGET's import library is
# TARGET.lib, made by llvm-dlltool from the export table DEF in the short
# form that the platform's own linker writes and reads. It takes the place of
# the one GNU ld writes: the build's own programs link it (GNU ld reads that
# form too), the install puts it beside the headers, and the installed CMake
# package names it as the target's IMPORTED_IMPLIB, so that a host built with
# the platform's compiler links the DLL as it links any other.
include_guard(GLOBAL)

if(WIN32)
  find_program(MIRDCNG_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED
               DOC "llvm-dlltool, which makes the DLLs' import libraries")
endif()

function(mirdcng_import_library target def)
  if(NOT WIN32)
    return()
  endif()
  set_target_properties(${target} PROPERTIES IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${MIRDCNG_DLLTOOL} -m i386:x86-64 -d ${def} -l $<TARGET_LINKER_FILE:${target}>
    VERBATIM)
endfunction()
