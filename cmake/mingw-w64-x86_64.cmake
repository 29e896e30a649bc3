# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# variant of its GCC, whose standard library has std::thread and friends), on
# the Universal CRT.
#
# Why the Universal CRT: the framework's hosts are built with the platform's
# own compiler, whose C runtime since 2015 is the UCRT (ucrtbase.dll, reached
# through the api-ms-win-crt-*.dll names). create_cng77_pipe is handed such a
# host's FILE*, and rewinds it and reads it: only the C runtime that made a
# stream can use it, so the DLLs must be on the same one. Debian's GCC links
# msvcrt.dll by default; mingw-w64 ships the UCRT's import library (libucrt.a)
# with shims for what its startup code and headers ask of msvcrt.dll, so the
# one change needed is which of the two the driver links.
#
# Programs and DLLs are linked with libgcc, libstdc++ and winpthread built in,
# so that they need nothing beyond the system's own DLLs: KERNEL32, bcrypt and
# the UCRT. Tests run under Wine; see cmake/wine-run.sh.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MIRDCNG_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MIRDCNG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIRDCNG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MIRDCNG_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${MIRDCNG_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${MIRDCNG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The driver's own "libgcc" rule (the libraries it adds to every link) with
# -lucrt in place of -lmsvcrt, in a rule file given to the driver that
# overrides that one rule: what a GCC configured for the UCRT has built in.
# Made for each build folder (and each of CMake's trial builds) from the
# compiler at hand.
#
# Not -D_UCRT: the headers' UCRT mode changes mbstate_t, and the prebuilt
# libstdc++ (compiled in their msvcrt mode) then lacks the symbols that code
# compiled so asks for. The headers' msvcrt mode links against libucrt.a as it is.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -dumpspecs
                OUTPUT_VARIABLE _mirdcng_rules RESULT_VARIABLE _mirdcng_status)
if(NOT _mirdcng_status EQUAL 0
   OR NOT _mirdcng_rules MATCHES "\n\\*libgcc:\n([^\n]*-lmsvcrt[^\n]*)\n")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER}: no libgcc rule that links -lmsvcrt")
endif()
string(REPLACE "-lmsvcrt" "-lucrt" _mirdcng_libgcc "${CMAKE_MATCH_1}")
set(_mirdcng_rule_file ${CMAKE_BINARY_DIR}/mingw-w64-ucrt.rules)
file(WRITE ${_mirdcng_rule_file} "*libgcc:\n${_mirdcng_libgcc}\n")

# -static makes the linker take the static archives of libgcc, libstdc++ and
# winpthread; the system DLLs are still reached through their import libraries.
# The static winpthread was compiled for msvcrt.dll and calls its _setjmp,
# which the UCRT exports as __intrinsic_setjmp (same arguments).
set(_mirdcng_link_flags
    "-static -specs=${_mirdcng_rule_file} -Wl,--defsym,_setjmp=__intrinsic_setjmp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_mirdcng_link_flags}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_mirdcng_link_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_mirdcng_link_flags}")

# Built programs run under Wine, in a throwaway prefix of the build tree.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh" --prefix "${CMAKE_BINARY_DIR}/wineprefix")
endif()
