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

profile() {  # TITLE COMMAND...
  local title=$1
  shift
  "$@" >/dev/null 2>&1  # once first, so that both sides start warm
  perf record -q -e cpu-clock -o "$work/perf.data" -- "$@" >/dev/null 2>&1
  echo "### $title ($mib MiB)"
  echo
  echo '```'
  perf report -i "$work/perf.data" --stdio --no-children --sort dso,sym 2>/dev/null |
    grep -E '^ +[0-9]' | head -12 || true  # head stops the report early
  echo '```'
  echo
}

profile "mirdcng encrypt" "$mirdcng" encrypt --force "$work/plain.EBS" "$work/out.EBS"
profile "openssl enc" openssl enc -aes-128-cbc -K "$key" -iv "$iv" -in "$work/plain.EBS" \
  -out "$work/out.ossl"
profile "mirdcng decrypt" "$mirdcng" decrypt --force "$work/sealed.EBS" "$work/back.EBS"
profile "openssl enc -d" openssl enc -d -aes-128-cbc -K "$key" -iv "$iv" \
  -in "$work/sealed.ossl" -out "$work/back.bin"
profile "mirdcng cat" "$mirdcng" cat "$work/sealed.EBS"
profile "openssl enc -d -out /dev/null" openssl enc -d -aes-128-cbc -K "$key" -iv "$iv" \
  -in "$work/sealed.ossl" -out /dev/null
