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

# Paths are taken as named; --host-names applies the library's naming rule, as
# a host's call does, and -v names the paths it used.
printf 'meeting notes\n' >notes.txt
expect 0 "" -- "$tool" encrypt notes.txt out --tag s3cret
expect 0 "^mirdcng: encrypted 'notes.txt' into 'plain'$" -- "$tool" -v encrypt notes.txt plain
expect 3 "^mirdcng: cannot open 'notes.txt.ebs' \(from 'notes.txt'\): No such file or directory$" -- \
  "$tool" encrypt --host-names notes.txt hosted
cp notes.txt notes.txt.ebs
expect 0 "^mirdcng: encrypted 'notes.txt.ebs' \(from 'notes.txt'\) into 'hosted.ebs' \(from 'hosted'\)$" -- \
  "$tool" -v encrypt --host-names notes.txt hosted
expect 1 "already encrypted: it begins with the byte 0xDD" -- "$tool" encrypt out x
expect 1 "not an encrypted file" -- "$tool" decrypt notes.txt x
expect 5 "the tag is wrong: 'out' was sealed with a tag; give it with --tag" -- \
  "$tool" decrypt out back
expect 5 "the tag is wrong for 'out'; nothing was written" -- "$tool" decrypt --tag nope out back
[ ! -e back ] || fail "a refused decryption created its destination"
expect 0 "^mirdcng: decrypted 'out' into 'back'$" -- "$tool" decrypt -vts3cret out back
cmp -s back notes.txt || fail "the round trip changed the file"

# decrypt SRC -: the tag-checked plaintext is all that standard output gets.
check 0 "" notes.txt -- "$tool" decrypt out - --tag=s3cret
check 0 "^mirdcng: decrypted 'out' to standard output$" notes.txt -- \
  "$tool" decrypt -v out - -t s3cret
expect 5 "tag is wrong" -- "$tool" decrypt out - -t wrong

# The tag may stay off the command line: in a file (one final newline
# dropped; - is standard input) or in MIRDCNG_TAG, which -t and --tag-file
# go before.
printf 's3cret\n' >tag.txt
check 0 "" notes.txt -- "$tool" decrypt out - --tag-file tag.txt
check 0 "" notes.txt -- sh -c 'printf s3cret | exec "$0" decrypt out - --tag-file -' "$tool"
check 0 "" notes.txt -- env MIRDCNG_TAG=s3cret "$tool" decrypt out -
check 0 "" notes.txt -- env MIRDCNG_TAG=wrong "$tool" decrypt out - --tag-file tag.txt
expect 5 "tag is wrong" -- env MIRDCNG_TAG=s3cret "$tool" decrypt out - -t wrong
expect 3 "^mirdcng: cannot read the tag file 'none': No such file or directory$" -- \
  "$tool" decrypt out - --tag-file none
expect 2 "give -t or --tag-file, not both" -- "$tool" decrypt out - -t s3cret --tag-file tag.txt

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
cmp -s other.EBS notes.txt || fail "--force did not replace the destination"
ln -s other.EBS link.EBS
expect 0 "" -- "$tool" encrypt other.EBS ./link.EBS
expect 0 "" -- "$tool" decrypt ./other.EBS other.EBS
cmp -s other.EBS notes.txt || fail "the in-place round trip changed the file"

# A destination that is not a regular file is refused for what it is; none is
# made beside it.
mkdir folder
expect 1 "^mirdcng: cannot write 'folder': it is a folder; to write into a folder, give -o 'folder'$" -- \
  "$tool" encrypt -f notes.txt folder
expect 1 "^mirdcng: cannot write '/dev/null': it is a device$" -- \
  "$tool" decrypt -f out /dev/null -t s3cret
[ ! -e /dev/null.ebs ] || fail "decrypting into /dev/null made /dev/null.ebs"

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
check 0 "" notes.txt -- "$tool" cat out
check 0 "^mirdcng: wrote 'notes.txt' as it is: it is not a whole encrypted file$" notes.txt -- \
  "$tool" cat -v notes.txt
if ! $sanitized; then
  expect 1 "^mirdcng: cannot decrypt 'out', which has the layout of an encrypted file: it cannot be read: Too many open files; nothing was written$" -- \
    bash -c 'exec 3>&-; ulimit -n 4; exec "$0" cat out' "$tool"
fi
{ printf '\335' && head -c 33 /dev/zero; } >damaged.EBS  # whole, but its padding is wrong
expect 1 "^mirdcng: cannot decrypt 'damaged.EBS', .*: it is damaged" -- "$tool" cat damaged.EBS
head -c 35 out >short.EBS
check 0 "" short.EBS -- "$tool" cat short.EBS
# A FILE that is a pipe (standard input here) is served whole, every byte once.
seq 1 100000 >numbers
seq 1 100000 | "$tool" cat /dev/stdin | cmp -s - numbers || fail "cat /dev/stdin over a pipe lost bytes"
check 0 "" /dev/null -- sh -c ': | exec "$0" cat /dev/stdin' "$tool"
# - at either end: standard input read whole, standard output written once
# the whole result exists; cat - shows a whole container decrypted and any
# other bytes as they are; a DST that exists is still replaced only with
# --force.
"$tool" encrypt - - -t s3cret <notes.txt >piped.ebs || fail "encrypt - - failed"
check 0 "" notes.txt -- sh -c 'exec "$0" decrypt - - -t s3cret <piped.ebs' "$tool"
check 0 "" notes.txt -- sh -c 'exec "$0" cat - <piped.ebs' "$tool"
check 0 "" numbers -- sh -c 'exec "$0" cat - <numbers' "$tool"
check 0 "" short.EBS -- sh -c 'exec "$0" cat - <short.EBS' "$tool"
expect 1 "cannot decrypt standard input.*nothing was written" -- \
  sh -c 'exec "$0" cat - <damaged.EBS' "$tool"
expect 5 "tag is wrong" -- sh -c 'exec "$0" decrypt - piped.back -t no <piped.ebs' "$tool"
expect 1 "already exists; give --force" -- sh -c 'exec "$0" encrypt - out <notes.txt' "$tool"
[ ! -e piped.back ] || fail "a refused decryption from standard input wrote its destination"

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
expect 3 "^mirdcng: cannot open 'fifo.EBS': it is a FIFO$" -- timeout 10 "$tool" verify fifo.EBS
expect 1 "^mirdcng: cannot write 'fifo.EBS': it is a FIFO$" -- timeout 10 "$tool" encrypt -f notes.txt fifo.EBS
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

# Trees: encrypt and decrypt many files at once, in place (-i) and into a
# folder (-o), walking folders with -r. Links met in folders are not followed
# and FIFOs are passed over; a file already sealed (or, without a tag, empty)
# is skipped, so a second run changes nothing; a file that cannot be read
# fails alone, and the exit status is the highest of the files'. As root, the
# tree is worked on as nobody, to whom a file of mode 000 is unreadable.
as_user=()
if [ "$(id -u)" -eq 0 ] && setpriv --reuid=65534 --regid=65534 --clear-groups true 2>/dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod o+x "$work"
fi
mkdir -p tree/sub/deeper
printf 'one\n' >tree/one.txt
seq 1 20000 >tree/sub/deeper/numbers
printf 'sealed before\n' >sealed-plain
"$tool" encrypt sealed-plain tree/sub/sealed.EBS
: >tree/empty
printf 'outside\n' >outside.txt
ln -s ../outside.txt tree/outside
ln -s sub tree/folder-link
mkfifo tree/sub/fifo
printf 'locked\n' >tree/sub/locked
chmod 000 tree/sub/locked
[ ${#as_user[@]} -gt 0 ] && chown -R 65534:65534 tree
unreadable=3 locked="^mirdcng: cannot open 'tree/sub/locked': Permission denied$"
if "${as_user[@]}" test -r tree/sub/locked; then
  echo "skipped: no user here to whom a file of mode 000 is unreadable"
  rm -f tree/sub/locked
  unreadable=0 locked=""
fi
plain=(one.txt sub/deeper/numbers empty)
cp -a tree tree-before
snapshot() { (cd "$1" && find . -type f -readable -print0 | sort -z | xargs -0 sha256sum); }
expect "$unreadable" "$locked" -- "${as_user[@]}" "$tool" encrypt -r -i -j 4 tree
for file in one.txt sub/deeper/numbers; do
  [ "$(head -c 1 "tree/$file" | od -An -tx1)" = " dd" ] || fail "encrypt -r -i left tree/$file plain"
done
cmp -s tree/sub/sealed.EBS tree-before/sub/sealed.EBS || fail "encrypt -r -i sealed a file twice"
cmp -s outside.txt tree-before/../outside.txt && [ -L tree/outside ] ||
  fail "encrypt -r -i followed a link out of the tree"
snapshot tree >sealed.sums
expect "$unreadable" "$locked" -- "${as_user[@]}" "$tool" encrypt -r -i -j 4 tree
snapshot tree | cmp -s - sealed.sums || fail "a second encrypt -r -i changed the tree"
expect "$unreadable" "$locked" -- "${as_user[@]}" "$tool" decrypt -r -i -j 4 tree
for file in "${plain[@]}"; do
  cmp -s "tree/$file" "tree-before/$file" || fail "the round trip in place changed tree/$file"
done
cmp -s tree/sub/sealed.EBS sealed-plain || fail "decrypt -r -i did not decrypt tree/sub/sealed.EBS"

# Into a folder, with a tag from a file: the folders' shape below the PATH,
# the empty file sealed with the tag, nothing for what was skipped.
mkdir sealed && [ ${#as_user[@]} -gt 0 ] && chown 65534:65534 sealed
cp tree-before/sub/sealed.EBS tree/sub/sealed.EBS
expect "$unreadable" "$locked" -- "${as_user[@]}" "$tool" encrypt -r tree -o sealed -j 4 \
  --tag-file tag.txt
(cd sealed && find . -type f | sort) >listing
printf './%s\n' empty one.txt sub/deeper/numbers | cmp -s - listing ||
  fail "encrypt -r -o wrote $(tr '\n' ' ' <listing)"
snapshot sealed >sealed.sums
expect "$unreadable" "left 3 existing outputs as they were; --force replaces them" -- \
  "${as_user[@]}" "$tool" encrypt -r tree -o sealed --tag-file tag.txt
snapshot sealed | cmp -s - sealed.sums || fail "a second encrypt -r -o changed its outputs"
expect 0 "" -- "$tool" verify -r sealed --tag-file tag.txt
expect 0 "" -- "$tool" decrypt -r sealed -o back-tree -t s3cret
for file in "${plain[@]}"; do
  cmp -s "back-tree/$file" "tree-before/$file" || fail "the round trip through -o changed $file"
done

# DIR inside a folder walked is passed over; two files with one output are
# not both written.
mkdir -p nest/a nest/b
printf 'a\n' >nest/a/same
printf 'b\n' >nest/b/same
expect 0 "" -- "$tool" encrypt -r nest -o nest/out
expect 0 "passed over 'nest/out': it is the output folder" -- "$tool" encrypt -v -r nest -o nest/out
expect 1 "^mirdcng: 'nest/b/same' is left out: 'nest/a/same' is written to 'flat/same' already$" -- \
  "$tool" encrypt nest/a/same nest/b/same -o flat
expect 0 "" -- "$tool" decrypt flat/same nest/back
cmp -s nest/back nest/a/same || fail "-o wrote the second of two files with one output"

# verify: whole containers that decrypt (with a tag: sealed with it), and
# nothing written anywhere; each failure named, the highest status kept.
ls -A >listing
expect 0 "" -- "$tool" verify out hosted.ebs
expect 0 "" -- "$tool" verify out -t s3cret
expect 5 "^mirdcng: 'out' was not sealed with the tag given$" -- "$tool" verify out -t wrong
expect 5 "damaged.*|was not sealed|2 of 3 files failed" -- \
  "$tool" verify -t s3cret damaged.EBS out hosted.ebs
expect 1 "^mirdcng: did not verify 'notes.txt': it is not an encrypted file" -- \
  "$tool" verify notes.txt
expect 1 "^mirdcng: 'tree' is a folder; give -r to work on the files in it$" -- "$tool" verify tree
ls -A | cmp -s - listing || fail "verify wrote a file"

# The memory budget: a worker takes a file only while all of them hold less
# than the budget, each file counting its size and the room its block has
# for header, padding and tag (289 bytes).
mkdir budget
for i in 1 2 3 4 5 6; do head -c 100000 numbers >"budget/f$i"; done
expect 0 "; at most 1 at once, holding 100289 bytes$" -- \
  "$tool" encrypt -v -i -r -j 4 --memory 150K budget
expect 0 "; at most 2 at once, holding 200646 bytes$" -- \
  "$tool" decrypt -v -i -r -j 4 --memory 250K budget

# The progress line, on request: files and bytes done, cleared at the end.
check 0 "^.mirdcng: [0-9]+/6 files, .* of 585.9 KiB" /dev/null -- \
  "$tool" encrypt -i -r --progress budget

# inspect --json, for scripts.
says 0 '^\{"file":"out","size":50,"encrypted":true,"tag_length":6,"iv":"[0-9a-f]{32}","ciphertext_length":32,"whole":true\}$' -- \
  "$tool" inspect --json out
says 0 '^\{"file":"notes.txt","size":14,"encrypted":false\}$' -- "$tool" inspect --json notes.txt

# Every output asked for must reach standard output.
for command in "cat out" "cat notes.txt" "inspect out" "inspect --json out" \
  "decrypt out - -t s3cret" "help" "help cat" "--help" "--version"; do
  read -ra words <<<"$command"
  expect 1 "cannot write to standard output: No space left on device" -- \
    sh -c 'exec "$@" >/dev/full' sh "$tool" "${words[@]}"
done

# The command line.
printf 'dash\n' >-odd.EBS
expect 0 "" -- "$tool" encrypt -- -odd.EBS sealed.EBS
expect 1 "tag is longer than 255 bytes" -- "$tool" encrypt notes.txt long --tag "$(printf '%300s' x)"
[ ! -e long ] || fail "a refused encryption created its destination"
: >empty.EBS
expect 1 "empty and no tag" -- "$tool" encrypt empty.EBS e.EBS
# Wrong command lines are told in the command's words, with where to read more.
expect 2 "^mirdcng: encrypt has no option '--bogus'; see mirdcng encrypt --help$" -- \
  "$tool" encrypt a b --bogus
expect 2 "^mirdcng: option --tag needs a value; see mirdcng encrypt --help$" -- \
  "$tool" encrypt a b --tag
expect 2 "^mirdcng: DST is missing; for files in place, give -i; see mirdcng encrypt --help$" -- \
  "$tool" encrypt onlyone
expect 2 "more than SRC and DST" -- "$tool" decrypt a b c
expect 2 "cat has no option '--tag'; see mirdcng cat --help" -- "$tool" cat out --tag x
expect 2 "unexpected argument 'b'; see mirdcng inspect --help" -- "$tool" inspect a b
expect 2 "give -i or -o DIR, not both" -- "$tool" encrypt -i a -o b
expect 2 "-r walks folders for -i or -o DIR" -- "$tool" encrypt -r a b
expect 2 "-j takes a number of files from 1 to 1024, not 'x'" -- "$tool" verify -j x a
expect 2 "--memory takes a size such as 512M or 2G, not '2Q'" -- "$tool" verify --memory 2Q a
expect 2 "unknown command 'frobnicate'" -- "$tool" frobnicate
expect 2 "unknown command 'nope'" -- "$tool" help nope
expect 2 "Usage: mirdcng" -- "$tool"
says 0 "naming rule" -- "$tool" --help
says 0 "^mirdcng [0-9]+\.[0-9]+\.[0-9]+$" -- "$tool" --version
says 0 "Usage: mirdcng encrypt \[OPTIONS\] \{SRC\|-\} \{DST\|-\}" -- "$tool" encrypt --help
says 0 "Usage: mirdcng cat \[OPTIONS\] FILE" -- "$tool" help cat
says 0 "Usage: mirdcng help \[COMMAND\]" -- "$tool" help help

# The manual page documents every command and every option the help lists.
for name in "" encrypt decrypt verify cat inspect; do
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
completes "encrypt" mirdcng -v en
completes "--force" mirdcng decrypt --f
completes "--tag --tag-file" mirdcng verify --ta
completes "--verbose --help" mirdcng cat --
completes "numbers" mirdcng inspect num
completes "numbers" mirdcng encrypt -v num
completes "" mirdcng encrypt --tag ""
completes "folder" mirdcng encrypt -i x -o fo

echo "$passed passed, $failures failed"
[ "$failures" -eq 0 ]
