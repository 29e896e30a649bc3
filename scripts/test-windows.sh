#!/usr/bin/env bash
# Builds mirdcng.dll, mirdutils.dll and mirdcng.exe for 64-bit Windows with
# mingw-w64, and runs their tests under Wine: the suites on the real CNG, the
# DLLs' export and import tables, a host that loads the DLL, and files crossing
# between the Windows and the Linux builds (the dev build's mirdcng).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 googletest
# The Linux peer of the interoperability test, up to date (a no-op after the
# dev workflow has run).
cmake --preset dev >/dev/null
cmake --build --preset dev --target mirdcng_tool
cmake --workflow --preset windows
