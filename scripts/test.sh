#!/usr/bin/env bash
# Builds mirdcng and runs every test: the warnings-as-errors build, then the
# same suites under AddressSanitizer and UBSan, then the fuzz harnesses for a
# fixed number of inputs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --workflow --preset dev
cmake --workflow --preset asan-ubsan
cmake --workflow --preset fuzz
