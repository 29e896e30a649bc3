#!/usr/bin/env bash
# Builds mirdcng.dll, mirdutils.dll and mirdcng.exe for 64-bit Windows with
# mingw-w64, and runs their tests under Wine: the suites on the real CNG, the
# DLLs' export and import tables, a host that loads the DLL, and files crossing
# between the Windows and the Linux builds (whose mirdcng it builds first when
# the dev build lacks it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh g++-mingw-w64-x86-64-posix wine64 googletest
if [ ! -x build/dev/tools/mirdcng ]; then
  cmake --preset dev
  cmake --build --preset dev --target mirdcng_tool
fi
cmake --workflow --preset windows
