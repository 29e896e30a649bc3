#!/usr/bin/env bash
# Fails when any C++ file of the repository differs from what clang-format
# makes of it with the project's .clang-format, and names the files. Debian's
# clang-format (version 14, from scripts/install-deps.sh) is the reference:
# another version may format a few constructs differently.
#
#   scripts/check-format.sh          check
#   scripts/check-format.sh --fix    rewrite the files in place
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cc' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! clang-format --dry-run -Werror "${files[@]}" 2>"$report"; then
  grep -oE '^[^:]+:[0-9]+:[0-9]+: error' "$report" | cut -d: -f1 | sort -u |
    sed 's/^/not formatted: /' >&2
  echo "run scripts/check-format.sh --fix" >&2
  exit 1
fi
