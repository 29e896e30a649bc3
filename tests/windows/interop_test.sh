#!/usr/bin/env bash
# Files cross between the builds: what the Windows build's mirdcng writes, the
# Linux build's reads back, and the other way round, with and without tags,
# through decrypt (cng_77z) and through cat (create_cng77_pipe); and whole
# trees, sealed in place (-i -r) by one, verified and unsealed into a folder
# (-o) by the other, every path taken as named; and streams (-), one end each.
#
#   interop_test.sh LINUX_MIRDCNG WINDOWS_MIRDCNG_EXE EMULATOR...
#
# The Windows program runs as EMULATOR... WINDOWS_MIRDCNG_EXE ARGS.
set -uo pipefail
if [ $# -lt 3 ]; then
  echo "usage: $0 LINUX_MIRDCNG WINDOWS_MIRDCNG_EXE EMULATOR..." >&2
  exit 2
fi
linux_tool=$1
windows_tool=$2
shift 2
emulator=("$@")
if [ ! -x "$linux_tool" ]; then
  echo "FAIL: no Linux build of mirdcng at $linux_tool (build the dev preset first)"
  exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
checks=0

linux() { "$linux_tool" "$@"; }
windows() { "${emulator[@]}" "$windows_tool" "$@"; }

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run STATUS SIDE ARGS...: runs mirdcng on SIDE and checks its exit status.
run() {
  local want=$1 side=$2
  shift 2
  local output status
  output=$("$side" "$@" 2>&1)
  status=$?
  checks=$((checks + 1))
  if [ "$status" -ne "$want" ]; then
    fail "$side mirdcng $* -> status $status (want $want): $output"
    return 1
  fi
}

# cat_into OUTPUT SIDE FILE: SIDE's mirdcng cat writes FILE's content into OUTPUT.
cat_into() {
  local output=$1 side=$2 file=$3 status
  "$side" cat "$file" > "$output" 2> "$output.err"
  status=$?
  checks=$((checks + 1))
  if [ "$status" -ne 0 ]; then
    fail "$side mirdcng cat $file -> status $status: $(cat "$output.err")"
    return 1
  fi
}

# same EXPECTED ACTUAL WHAT: the two files hold the same bytes.
same() {
  checks=$((checks + 1))
  cmp -s "$1" "$2" || fail "$3: $2 differs from $1"
}

# Plaintexts: block edges, a tag alone, bytes that a text-mode stream on
# Windows would change (CR LF, a lone LF, ^Z), and a larger pseudo-random file.
: > empty.txt
printf 'x' > one.txt
printf '0123456789abcde' > fifteen.txt
printf '0123456789abcdef' > sixteen.txt
printf '0123456789abcdefg' > seventeen.txt
printf 'line\r\nline\nend\032 after ^Z\r\n' > newlines.txt
head -c 300000 /dev/zero |
  openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f \
    -iv 0f0e0d0c0b0a09080706050403020100 | head -c 300000 > random.bin
long_tag=$(printf 'T%.0s' $(seq 255))

cases=(
  # plaintext          tag
  "one.txt"            ""
  "fifteen.txt"        "t"
  "sixteen.txt"        ""
  "seventeen.txt"      "a tag with spaces"
  "newlines.txt"       "crlf"
  "random.bin"         "$long_tag"
  "empty.txt"          "tag alone"
)

for direction in "linux windows" "windows linux"; do
  read -r writer reader <<<"$direction"
  for ((i = 0; i < ${#cases[@]}; i += 2)); do
    plain=${cases[i]}
    tag=${cases[i + 1]}
    name="$writer-${plain%.*}"
    cp "$plain" "$name.EBS"
    run 0 "$writer" encrypt "$name.EBS" "$name.sealed.EBS" --tag "$tag" || continue
    run 0 "$reader" decrypt "$name.sealed.EBS" "$name.back.EBS" --tag "$tag" &&
      same "$plain" "$name.back.EBS" "$writer -> $reader decrypt, $plain"
    # The pipe needs no tag: the trailer is dropped by its length.
    cat_into "$name.cat" "$reader" "$name.sealed.EBS" &&
      same "$plain" "$name.cat" "$writer -> $reader cat, $plain"
  done
  # The tag check holds across the builds.
  run 5 "$reader" decrypt "$writer-fifteen.sealed.EBS" "$writer-wrong.EBS" --tag u
  run 5 "$reader" decrypt "$writer-seventeen.sealed.EBS" "$writer-wrong.EBS"
  [ ! -e "$writer-wrong.EBS" ] || fail "$reader created the destination of a refused decryption"
done

# Trees: a folder with a folder in it, sealed in place by one build, verified
# (without a tag, with the right one and with a wrong one) and unsealed into
# another folder by the other. Names stay as they are: no .ebs is appended.
for direction in "linux windows" "windows linux"; do
  read -r writer reader <<<"$direction"
  mkdir -p "tree-$writer/sub"
  cp one.txt fifteen.txt "tree-$writer/"
  cp newlines.txt random.bin "tree-$writer/sub/"
  run 0 "$writer" encrypt -i -r -t "tree tag" "tree-$writer" || continue
  run 0 "$writer" encrypt -i -r -t "tree tag" "tree-$writer"  # all skipped: sealed already
  run 0 "$reader" verify -r "tree-$writer"
  run 0 "$reader" verify -r -t "tree tag" "tree-$writer"
  run 5 "$reader" verify -r -t other "tree-$writer"
  run 1 "$reader" verify one.txt
  run 0 "$reader" decrypt -r -t "tree tag" "tree-$writer" -o "back-$writer" || continue
  for file in one.txt fifteen.txt sub/newlines.txt sub/random.bin; do
    same "${file#sub/}" "back-$writer/$file" "$writer -> $reader tree, $file"
  done
  checks=$((checks + 1))
  if [ -n "$(find "tree-$writer" "back-$writer" -name '*.ebs')" ]; then
    fail "$writer or $reader appended .ebs to a path"
  fi
done

# Streams: one build seals standard input to standard output, the other
# unseals it the same way and shows it with cat -; bytes a text-mode stream
# would change pass unchanged.
for direction in "linux windows" "windows linux"; do
  read -r writer reader <<<"$direction"
  checks=$((checks + 1))
  "$writer" encrypt - - -t piped <newlines.txt >"piped-$writer.ebs" ||
    fail "$writer mirdcng encrypt - - failed"
  "$reader" decrypt - - -t piped <"piped-$writer.ebs" >"piped-$writer.back" &&
    same newlines.txt "piped-$writer.back" "$writer -> $reader decrypt - -"
  "$reader" cat - <"piped-$writer.ebs" >"piped-$writer.cat" &&
    same newlines.txt "piped-$writer.cat" "$writer -> $reader cat -"
done

if [ "$failures" -ne 0 ]; then
  echo "$failures of $checks interoperability checks failed"
  exit 1
fi
echo "all $checks interoperability checks passed"
