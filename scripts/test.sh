#!/usr/bin/env bash
# Checks the formatting first, so that it fails fast, then builds mirdcng and
# runs every test: the warnings-as-errors build, the same suites under
# AddressSanitizer and UBSan, the concurrency suite under ThreadSanitizer,
# each fuzz harness for a bounded time, and the Windows build's suites under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/check-format.sh
cmake --workflow --preset dev
cmake --workflow --preset asan-ubsan
cmake --workflow --preset tsan
cmake --workflow --preset fuzz
scripts/test-windows.sh
