#!/usr/bin/env bash
# The mirdcng command as a person uses it: messages that name the paths the
# naming rule used, options on either side of the paths, "--", and the exit
# statuses. Usage: cli_test.sh PATH/TO/mirdcng
set -uo pipefail
tool=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
passed=0

# expect STATUS PATTERN -- COMMAND...: runs COMMAND, checks its exit status and
# that its combined output matches the extended regex PATTERN.
expect() {
  local status=$1 pattern=$2
  shift 3
  local output
  output=$("$@" 2>&1)
  local actual=$?
  if [ "$actual" -ne "$status" ] || ! grep -Eq -- "$pattern" <<<"$output"; then
    echo "FAIL: $* -> status $actual (want $status), output:"
    echo "$output" | sed 's/^/    /'
    failures=$((failures + 1))
  else
    passed=$((passed + 1))
  fi
}

printf 'meeting notes\n' > notes.txt
expect 3 "cannot open the source 'notes.txt.ebs' \(from 'notes.txt'\)" -- "$tool" encrypt notes.txt out
mv notes.txt notes.txt.ebs
expect 0 "encrypted 'notes.txt.ebs' \(from 'notes.txt'\) into 'out.ebs' \(from 'out'\)" -- \
  "$tool" encrypt notes.txt out --tag s3cret
expect 1 "already encrypted" -- "$tool" encrypt out x
expect 5 "tag is wrong.*give it with --tag" -- "$tool" decrypt out back
expect 5 "tag is wrong" -- "$tool" decrypt --tag nope out back
[ ! -e back.ebs ] || { echo "FAIL: a refused decryption created its destination"; failures=$((failures + 1)); }
expect 0 "decrypted 'out.ebs' \(from 'out'\) into 'back.ebs' \(from 'back'\)" -- \
  "$tool" decrypt -t s3cret out back
cmp -s back.ebs notes.txt.ebs || { echo "FAIL: the round trip changed the file"; failures=$((failures + 1)); }
expect 1 "not an encrypted file" -- "$tool" decrypt notes.txt x

# A path that begins with a dash, after "--".
printf 'dash\n' > -odd.EBS
expect 0 "encrypted '-odd.EBS' into 'sealed.EBS'" -- "$tool" encrypt -- -odd.EBS sealed.EBS
expect 1 "tag is longer than 255 bytes" -- "$tool" encrypt notes.txt long --tag "$(printf '%300s' x)"
[ ! -e long.ebs ] || { echo "FAIL: a refused encryption created its destination"; failures=$((failures + 1)); }
: > empty.EBS
expect 1 "empty and no tag" -- "$tool" encrypt empty.EBS e.EBS

# A FILE that is a pipe (standard input here) is served whole, every byte once.
seq 1 100000 > numbers
seq 1 100000 | "$tool" cat /dev/stdin | cmp -s - numbers ||
  { echo "FAIL: cat /dev/stdin over a pipe lost bytes"; failures=$((failures + 1)); }
expect 0 "^HELLO$" -- sh -c 'printf "HELLO\\n" | "$0" cat /dev/stdin' "$tool"

# Memory exhaustion ends the command with a message, not an abort. (An
# AddressSanitizer build cannot start under a limit on its address space.
# ldd's output is taken whole: grep -q would quit early, and under pipefail
# ldd's SIGPIPE would read as "no sanitizer".)
printf '\335' > big.EBS && truncate -s 300M big.EBS
if [[ $(ldd "$tool") != *libasan* ]]; then
  expect 1 "out of memory" -- bash -c 'ulimit -v 200000; exec "$0" cat big.EBS' "$tool"
fi

expect 2 "unknown option --bogus" -- "$tool" encrypt a b --bogus
expect 2 "needs a value" -- "$tool" encrypt a b --tag
expect 2 "takes a source and a destination" -- "$tool" encrypt onlyone
expect 2 "unknown command 'frobnicate'" -- "$tool" frobnicate
expect 0 "naming rule" -- "$tool" --help
expect 0 "^mirdcng [0-9]+\.[0-9]+\.[0-9]+$" -- "$tool" --version
expect 0 "usage: mirdcng encrypt SRC DST" -- "$tool" encrypt --help
expect 0 "usage: mirdcng cat FILE" -- "$tool" help cat
expect 2 "unknown command 'nope'" -- "$tool" help nope
expect 2 "^usage: mirdcng COMMAND" -- "$tool"

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
