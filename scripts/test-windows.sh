#!/usr/bin/env bash
# Builds mirdcng.dll, mirdutils.dll and mirdcng.exe for 64-bit Windows with
# mingw-w64, on the Universal CRT, and runs their tests under Wine: the suites
# on the real CNG, the DLLs' export and import tables, hosts that load the
# DLL (one built in the platform compiler's own mode, one beside a minimal
# pipe library), the zip, and files crossing between the Windows and the Linux
# builds (the dev build's mirdcng).
set -euo pipefail
cd "$(dirname "$0")/.."
# The cross compiler (mingw-w64 ships the UCRT's import library with it), Wine,
# GoogleTest's sources; llvm-dlltool (llvm) for the import libraries, and
# clang with lld-link (lld) for the host built in MSVC mode.
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 googletest llvm lld clang
# The Linux peer of the interoperability test, up to date (a no-op after the
# dev workflow has run).
cmake --preset dev >/dev/null
cmake --build --preset dev --target mirdcng_tool
cmake --workflow --preset windows
