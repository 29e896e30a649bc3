# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix-threads
# variant of its GCC, whose standard library has std::thread and friends).
#
# Programs and DLLs are linked with libgcc, libstdc++ and winpthread built in,
# so that they need nothing beyond the system's own DLLs (KERNEL32, bcrypt and
# the C runtime, msvcrt.dll). Tests run under Wine; see cmake/wine-run.sh.
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

# -static makes the linker take the static archives of libgcc, libstdc++ and
# winpthread; the system DLLs are still reached through their import libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Built programs run under Wine, in a throwaway prefix of the build tree.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh" --prefix "${CMAKE_BINARY_DIR}/wineprefix")
endif()
