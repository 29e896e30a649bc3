#!/usr/bin/env bash
# Shows where the time of `mirdcng encrypt|decrypt|cat` goes on a file of
# MIB mebibytes (default 256), and of the same work by `openssl enc`: the top
# symbols of a `perf record` of one run of each (software clock, since a
# virtual machine may offer no hardware counters). OpenSSL's library carries
# no symbols here: its addresses around 0xe0000 are the AES-NI CBC loops
# (aesenc/aesdec), as `objdump -d` shows.
#
#   bench/profile.sh [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-256}

scripts/install-deps.sh time openssl linux-perf >&2
cmake --preset bench >/dev/null
cmake --build --preset bench >&2
mirdcng="$(pwd)/build/bench/tools/mirdcng"

if [ -d /dev/shm ]; then
  work=$(mktemp -d /dev/shm/mirdcng-profile.XXXXXX)
else
  work=$(mktemp -d)
fi
trap 'rm -rf "$work"' EXIT
{ printf 'P'; head -c $((mib * 1048576 - 1)) /dev/urandom; } >"$work/plain.EBS"
"$mirdcng" encrypt "$work/plain.EBS" "$work/sealed.EBS" >/dev/null
key=000102030405060708090a0b0c0d0e0f
iv=0f0e0d0c0b0a09080706050403020100
openssl enc -aes-128-cbc -K "$key" -iv "$iv" -in "$work/plain.EBS" -out "$work/sealed.ossl"

# profile TITLE SINK COMMAND...: SINK is "file" (output to /dev/null) or
# "pipe" (into a pipe that `cat` reads, as the bench measures cat).
profile() {
  local title=$1 sink=$2
  shift 2
  run() {
    if [ "$sink" = pipe ]; then "$@" 2>/dev/null | cat >/dev/null; else "$@" >/dev/null 2>&1; fi
  }
  run "$@"  # once first, so that both sides start warm
  run perf record -q -e cpu-clock -o "$work/perf.data" -- "$@"
  echo "### $title ($mib MiB$([ "$sink" = pipe ] && echo ', into a pipe'))"
  echo
  echo '```'
  perf report -i "$work/perf.data" --stdio --no-children --sort dso,sym 2>/dev/null |
    grep -E '^ +[0-9]' | head -12 || true  # head stops the report early
  echo '```'
  echo
}

profile "mirdcng encrypt" file "$mirdcng" encrypt --force "$work/plain.EBS" "$work/out.EBS"
profile "openssl enc" file openssl enc -aes-128-cbc -K "$key" -iv "$iv" \
  -in "$work/plain.EBS" -out "$work/out.ossl"
profile "mirdcng decrypt" file "$mirdcng" decrypt --force "$work/sealed.EBS" "$work/back.EBS"
profile "openssl enc -d" file openssl enc -d -aes-128-cbc -K "$key" -iv "$iv" \
  -in "$work/sealed.ossl" -out "$work/back.bin"
profile "mirdcng cat" pipe "$mirdcng" cat "$work/sealed.EBS"
profile "openssl enc -d" pipe openssl enc -d -aes-128-cbc -K "$key" -iv "$iv" \
  -in "$work/sealed.ossl"
