#!/usr/bin/env bash
# The mirdcng command as a person uses it: silent success, -v, the paths the
# naming rule used, the precise cause of a failure, --force, decrypt to
# standard output, cat's refusal to print a container it cannot decrypt,
# output that cannot be written, the exit statuses; its bash completion and
# its manual page.
#   cli_test.sh PATH/TO/mirdcng PATH/TO/COMPLETION PATH/TO/mirdcng.1
set -uo pipefail
tool=$(realpath "$1")
completion=$(realpath "$2")
manual=$(realpath "$3")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir .run
failures=0
passed=0
# A sanitizer build cannot run out of resources cleanly: it cannot start under
# a limit on its address space, and with no file handle left its checks
# misfire (UBSan's vptr check needs one). ldd's output is taken whole: grep -q
# would quit early, and under pipefail ldd's SIGPIPE would read as "none".
sanitized=false
[[ $(ldd "$tool") == *libasan* || $(ldd "$tool") == *libubsan* ]] && sanitized=true

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# check STATUS ERR OUT -- COMMAND...: runs COMMAND and checks its exit status,
# that its standard error matches the extended regex ERR (is empty for ""),
# and that its standard output holds exactly the bytes of the file OUT.
check() {
  local status=$1 pattern=$2 expected=$3
  shift 4
  "$@" >.run/out 2>.run/err
  local actual=$?
  if [ "$actual" -ne "$status" ] || ! cmp -s .run/out "$expected" ||
    { [ -z "$pattern" ] && [ -s .run/err ]; } ||
    { [ -n "$pattern" ] && ! grep -Eq -- "$pattern" .run/err; }; then
    fail "$* -> status $actual (want $status), stdout $(wc -c <.run/out) bytes, stderr:"
    sed 's/^/    /' .run/err
  else
    passed=$((passed + 1))
  fi
}

# expect STATUS ERR -- COMMAND...: as check, with nothing on standard output.
expect() {
  local status=$1 pattern=$2
  shift 3
  check "$status" "$pattern" /dev/null -- "$@"
}

# says STATUS OUT -- COMMAND...: standard output matches the regex OUT, and
# nothing is on standard error.
says() {
  local status=$1 pattern=$2
  shift 3
  "$@" >.run/out 2>.run/err
  local actual=$?
  if [ "$actual" -ne "$status" ] || [ -s .run/err ] || ! grep -Eq -- "$pattern" .run/out; then
    fail "$* -> status $actual (want $status), output: $(cat .run/out .run/err)"
  else
    passed=$((passed + 1))
  fi
}

printf 'meeting notes\n' >notes.txt
expect 3 "^mirdcng: cannot open 'notes.txt.ebs' \(from 'notes.txt'\): No such file or directory$" -- \
  "$tool" encrypt notes.txt out
mv notes.txt notes.txt.ebs
expect 0 "" -- "$tool" encrypt notes.txt out --tag s3cret
expect 0 "^mirdcng: encrypted 'notes.txt.ebs' \(from 'notes.txt'\) into 'plain.ebs' \(from 'plain'\)$" -- \
  "$tool" -v encrypt notes.txt plain
expect 1 "already encrypted: it begins with the byte 0xDD" -- "$tool" encrypt out x
expect 1 "not an encrypted file" -- "$tool" decrypt notes.txt x
expect 5 "the tag is wrong: 'out.ebs' \(from 'out'\) was sealed with a tag; give it with --tag" -- \
  "$tool" decrypt out back
expect 5 "the tag is wrong for 'out.ebs' \(from 'out'\); nothing was written" -- \
  "$tool" decrypt --tag nope out back
[ ! -e back.ebs ] || fail "a refused decryption created its destination"
expect 0 "^mirdcng: decrypted 'out.ebs' \(from 'out'\) into 'back.ebs' \(from 'back'\)$" -- \
  "$tool" decrypt -vts3cret out back
cmp -s back.ebs notes.txt.ebs || fail "the round trip changed the file"

# decrypt SRC -: the tag-checked plaintext is all that standard output gets.
check 0 "" notes.txt.ebs -- "$tool" decrypt out - --tag=s3cret
check 0 "^mirdcng: decrypted 'out.ebs' \(from 'out'\) to standard output$" notes.txt.ebs -- \
  "$tool" decrypt -v out - -t s3cret
expect 5 "tag is wrong" -- "$tool" decrypt out - -t wrong
expect 2 "encrypt writes a file" -- "$tool" encrypt notes.txt -

# An existing destination is replaced only with --force, unless it is the
# source itself, by whatever path or link.
printf 'keep me\n' >kept.EBS
cp kept.EBS other.EBS
expect 1 "^mirdcng: 'other.EBS' already exists; give --force to replace it$" -- \
  "$tool" encrypt notes.txt other.EBS
cmp -s other.EBS kept.EBS || fail "a refused encryption changed the existing destination"
expect 1 "already exists" -- "$tool" decrypt out other.EBS -t s3cret
expect 0 "" -- "$tool" encrypt -f notes.txt other.EBS
expect 0 "" -- "$tool" decrypt --force out other.EBS -t s3cret
cmp -s other.EBS notes.txt.ebs || fail "--force did not replace the destination"
ln -s other.EBS link.EBS
expect 0 "" -- "$tool" encrypt other.EBS ./link.EBS
expect 0 "" -- "$tool" decrypt ./other.EBS other.EBS
cmp -s other.EBS notes.txt.ebs || fail "the in-place round trip changed the file"

# Precise causes, with the system's reason.
expect 1 "^mirdcng: cannot write 'nowhere/x.EBS': No such file or directory$" -- \
  "$tool" encrypt notes.txt nowhere/x.EBS
head -c 100000 /dev/zero >big.EBS
mkdir small
# A full device: a small tmpfs, in a mount namespace of the command's own.
full() { unshare -m sh -c 'mount -t tmpfs -o size=64k tmpfs small && exec "$@"' sh "$@"; }
if full true 2>/dev/null; then
  expect 1 "^mirdcng: cannot write 'small/big.EBS': No space left on device$" -- \
    full "$tool" encrypt big.EBS small/big.EBS
else
  echo "skipped: no mount namespace for a small tmpfs here"
fi

# cat: a container's plaintext, any other file as it is, and an error, never
# the container's bytes, when a whole container cannot be decrypted (no file
# handle is left for the library to read it by name; it is damaged).
check 0 "" notes.txt.ebs -- "$tool" cat out.ebs
check 0 "^mirdcng: wrote 'notes.txt.ebs' as it is: it is not a whole encrypted file$" notes.txt.ebs -- \
  "$tool" cat -v notes.txt.ebs
if ! $sanitized; then
  expect 1 "^mirdcng: cannot decrypt 'out.ebs', which has the layout of an encrypted file: it cannot be read: Too many open files; nothing was written$" -- \
    bash -c 'exec 3>&-; ulimit -n 4; exec "$0" cat out.ebs' "$tool"
fi
{ printf '\335' && head -c 33 /dev/zero; } >damaged.EBS  # whole, but its padding is wrong
expect 1 "^mirdcng: cannot decrypt 'damaged.EBS', .*: it is damaged" -- "$tool" cat damaged.EBS
head -c 35 out.ebs >short.EBS
check 0 "" short.EBS -- "$tool" cat short.EBS
# A FILE that is a pipe (standard input here) is served whole, every byte once.
seq 1 100000 >numbers
seq 1 100000 | "$tool" cat /dev/stdin | cmp -s - numbers || fail "cat /dev/stdin over a pipe lost bytes"
check 0 "" /dev/null -- sh -c ': | exec "$0" cat /dev/stdin' "$tool"

# Names that are no regular file never hang a command: a FIFO without a writer
# and a device are refused, by the library or by the command's own opening; a
# FIFO with a writer is served whole, the byte cat looks at first included.
mkfifo fifo.EBS
ln -s /dev/zero zero.EBS
for command in "encrypt fifo.EBS x" "decrypt fifo.EBS x" "inspect fifo.EBS" "inspect zero.EBS"; do
  read -ra words <<<"$command"
  expect 3 "^mirdcng: cannot open '(fifo|zero).EBS': it is not a regular file$" -- \
    timeout 10 "$tool" "${words[@]}"
done
expect 3 "^mirdcng: cannot open 'fifo.EBS': it is a FIFO that no process writes to$" -- \
  timeout 10 "$tool" cat fifo.EBS
expect 3 "^mirdcng: cannot open 'zero.EBS': it is not a regular file or a pipe$" -- \
  timeout 10 "$tool" cat zero.EBS
cat numbers >fifo.EBS &
check 0 "" numbers -- timeout 10 "$tool" cat fifo.EBS
wait
# Bytes already waiting in the FIFO: the writer (this shell) lets go only once
# the command holds the FIFO open.
exec 4<>fifo.EBS
head -c 1000 numbers >&4
"$tool" cat fifo.EBS 4>&- >.run/fifo &
reader=$!
for _ in $(seq 100); do
  [[ $(ls -l /proc/$reader/fd 2>/dev/null) == *fifo.EBS* ]] && break
  sleep 0.1
done
exec 4>&-
wait $reader || fail "cat of a FIFO holding bytes exited with $?"
head -c 1000 numbers | cmp -s - .run/fifo || fail "cat of a FIFO holding bytes lost some"

# Memory exhaustion ends the command with a message, not an abort.
printf '\335' >huge.EBS && truncate -s $((18 + 300 * 1024 * 1024)) huge.EBS
if ! $sanitized; then
  expect 1 "out of memory|memory ran out" -- \
    bash -c 'ulimit -v 200000; exec "$0" cat huge.EBS' "$tool"
fi

# An interrupted command leaves no temporary behind, and ends as the signal
# would have ended it. (Job control, so that a background job may be
# interrupted at all.)
head -c $((128 * 1024 * 1024)) /dev/zero | tr '\0' 'i' >interrupted.EBS
for signal in INT TERM HUP; do
  set -m
  "$tool" encrypt -f interrupted.EBS sealed-by-then.EBS &
  job=$!
  seen=false
  for _ in $(seq 1000); do
    compgen -G '.sealed-by-then.EBS.mirdcng-*.tmp' >/dev/null && seen=true && break
    sleep 0.005
  done
  kill -"$signal" "$job"
  wait "$job"
  status=$?
  set +m
  want=$((128 + $(kill -l "$signal")))
  $seen || fail "SIG$signal: the temporary never showed"
  [ "$status" -eq "$want" ] || fail "SIG$signal during encrypt: exit status $status, not $want"
  leftovers=$(compgen -G '.sealed-by-then*' || true)
  [ -z "$leftovers" ] || fail "SIG$signal during encrypt left $leftovers"
  rm -f sealed-by-then.EBS
done

# Every output asked for must reach standard output.
for command in "cat out.ebs" "cat notes.txt.ebs" "inspect out.ebs" "decrypt out - -t s3cret" \
  "help" "help cat" "--help" "--version"; do
  read -ra words <<<"$command"
  expect 1 "cannot write to standard output: No space left on device" -- \
    sh -c 'exec "$@" >/dev/full' sh "$tool" "${words[@]}"
done

# The command line.
printf 'dash\n' >-odd.EBS
expect 0 "" -- "$tool" encrypt -- -odd.EBS sealed.EBS
expect 1 "tag is longer than 255 bytes" -- "$tool" encrypt notes.txt long --tag "$(printf '%300s' x)"
[ ! -e long.ebs ] || fail "a refused encryption created its destination"
: >empty.EBS
expect 1 "empty and no tag" -- "$tool" encrypt empty.EBS e.EBS
expect 2 "not expected: --bogus" -- "$tool" encrypt a b --bogus
expect 2 "tag.*missing" -- "$tool" encrypt a b --tag
expect 2 "DST is required" -- "$tool" encrypt onlyone
expect 2 "not expected:.*--tag" -- "$tool" cat out.ebs --tag x
expect 2 "unknown command 'frobnicate'" -- "$tool" frobnicate
expect 2 "unknown command 'nope'" -- "$tool" help nope
expect 2 "Usage: mirdcng" -- "$tool"
says 0 "naming rule" -- "$tool" --help
says 0 "^mirdcng [0-9]+\.[0-9]+\.[0-9]+$" -- "$tool" --version
says 0 "Usage: mirdcng encrypt \[OPTIONS\] SRC DST" -- "$tool" encrypt --help
says 0 "Usage: mirdcng cat \[OPTIONS\] FILE" -- "$tool" help cat

# The manual page documents every command and every option the help lists.
for name in "" encrypt decrypt cat inspect; do
  for word in $("$tool" $name --help | grep -oE -- '--[a-z]+|^  [a-z]+ ' | sort -u); do
    grep -qF -- "$(sed 's/-/\\-/g' <<<"$word")" "$manual" || fail "the manual page lacks $word"
  done
done
# The bash completion offers commands, each command's own options, and files.
completes() {
  local want=$1
  shift
  local got
  got=$(bash -c 'source "$0"; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _mirdcng
                 echo "${COMPREPLY[*]}"' "$completion" "$@")
  [ "$got" = "$want" ] || fail "completing '$*' gave '$got', not '$want'"
}
completes "encrypt" mirdcng en
completes "--force" mirdcng decrypt --f
completes "--verbose --help" mirdcng cat --
completes "numbers" mirdcng inspect num
completes "" mirdcng encrypt --tag ""

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
