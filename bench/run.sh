#!/usr/bin/env bash
# Measures mirdcng against `openssl enc` and against the machine's own ceiling,
# and prints one report (Markdown) with every goal met or missed.
#
#   bench/run.sh            the whole bench (about five minutes)
#   bench/run.sh --quick    fewer runs and no 1 GiB file, to try the harness
#
# Environment: BENCH_DIR   folder for the files on tmpfs (default: a new folder
#                          in /dev/shm when it has room, else in TMPDIR;
#                          removed afterwards unless BENCH_KEEP=1)
#              BENCH_DISK  folder for the files on the disk (default: a new
#                          folder in build/, on whatever disk holds the tree)
#              BENCH_OUT   folder for the raw results (default: build/bench-results;
#                          the previous run's move to BENCH_OUT.previous, and
#                          the report sets the two side by side)
#
# It installs what it lacks (GNU time, OpenSSL, Google Benchmark), builds the
# `bench` preset (optimised, with the benchmark program), and runs:
#   1. bench/pairs.py: `mirdcng encrypt|decrypt|cat` against `openssl enc [-d]`
#      (mirdcng with --force, since each run replaces the last one's output)
#      on the same incompressible files, in alternating pairs, so that both
#      sides of every pair meet the same machine:
#        - on tmpfs, at 1, 16 and 256 MiB; `cat` and `openssl enc -d` each
#          write into a pipe that the bench reads;
#        - on the disk, at 256 MiB, encrypt and decrypt, where the peer is
#          `openssl enc` followed by `sync` of its output (mirdcng syncs its
#          destination and its folder: a crash never leaves half a file);
#      and before and after each 256 MiB row, the machine's fresh-memory cost:
#      the time of `dd if=/dev/zero of=/dev/null bs=256M count=2`;
#   2. GNU time: the peak resident memory of each command, median of three;
#   3. mirdcng_bench (Google Benchmark, through the library's exports): 4 KiB
#      files against a plain copy, time per byte from 1 MiB up, one thread
#      against two, and AES-128-CBC alone plus a file copy (the ceiling);
# The tree row (a tree of 2,000 files sealed in one command, against single
# calls) is bench/tree.sh, a run of its own of about four minutes: together
# the two would pass the five minutes this one keeps to.
# Nothing here is part of the tests; no timing fails anything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

quick=0
if [ "${1:-}" = "--quick" ]; then
  quick=1
fi

scripts/install-deps.sh time openssl python3 >&2

cmake --preset bench >/dev/null
cmake --build --preset bench >&2
mirdcng="$root/build/bench/tools/mirdcng"
bench="$root/build/bench/bench/mirdcng_bench"

out="${BENCH_OUT:-$root/build/bench-results}"
rm -rf "$out.previous"
if [ -d "$out" ]; then
  mv "$out" "$out.previous"
fi
mkdir -p "$out"
load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
date_at_start=$(date -u +%Y-%m-%dT%H:%MZ)
started=$SECONDS

# The largest file of the time-per-byte row: 1 GiB when memory allows it
# (the file, its container, two outputs and the process's own 1 GiB). Every
# sixteenfold step is enough to show whether the time per byte stays flat,
# and keeps the whole run near five minutes.
sizes_mib=(1 16 256)
disk_mib=256
flat_mib=(1 16 256)
avail_kib=$(awk '/MemAvailable/ {print $2}' /proc/meminfo)
if [ "$quick" -eq 0 ] && [ "$avail_kib" -gt $((10 * 1024 * 1024)) ]; then
  flat_mib+=(1024)
fi

# Files live in memory (tmpfs) when there is room, so the disk's write-back
# does not add its noise to either side; the disk table has a folder of its
# own on the disk.
if [ -n "${BENCH_DIR:-}" ]; then
  work="$BENCH_DIR"
  mkdir -p "$work"
elif [ -d /dev/shm ] && [ "$avail_kib" -gt $((8 * 1024 * 1024)) ]; then
  work=$(mktemp -d /dev/shm/mirdcng-bench.XXXXXX)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/mirdcng-bench.XXXXXX")
fi
if [ -n "${BENCH_DISK:-}" ]; then
  disk="$BENCH_DISK"
  mkdir -p "$disk"
else
  disk=$(mktemp -d "$root/build/bench-disk.XXXXXX")
fi
if [ "${BENCH_KEEP:-0}" != 1 ]; then
  trap 'rm -rf "$work" "$disk"' EXIT
fi
echo "bench: files in $work and on the disk in $disk, results in $out" >&2

key=000102030405060708090a0b0c0d0e0f
iv=0f0e0d0c0b0a09080706050403020100
openssl_enc=(openssl enc -aes-128-cbc -K "$key" -iv "$iv")

# Incompressible content whose first byte is not the container marker (0xDD),
# which mirdcng would refuse as already encrypted.
make_file() {  # PATH MIB
  { printf 'P'; head -c $(($2 * 1048576 - 1)) /dev/urandom; } >"$1"
}

# The plaintext, its container and openssl's ciphertext of it, in FOLDER.
make_files() {  # FOLDER MIB
  make_file "$1/plain_$2M.EBS" "$2"
  "$mirdcng" encrypt "$1/plain_$2M.EBS" "$1/sealed_$2M.EBS" >/dev/null
  "${openssl_enc[@]}" -in "$1/plain_$2M.EBS" -out "$1/sealed_$2M.ossl"
}

runs_for() {  # MIB -> pairs
  if [ "$quick" -eq 1 ]; then echo 3
  elif [ "$1" -ge 256 ]; then echo 16
  elif [ "$1" -ge 16 ]; then echo 20
  else echo 30
  fi
}

pairs() {  # JSON MIB SINK NAME_A COMMAND_A NAME_B COMMAND_B
  local fresh=()
  if [ "$2" -ge 256 ]; then fresh=(--fresh-memory); fi
  python3 bench/pairs.py --warmup 1 --runs "$runs" --sink "$3" "${fresh[@]}" \
    --export-json "$out/$1" -n "$4" "$5" -n "$6" "$7"
}

# Peak resident memory, the median of three runs of each.
peak() {  # LABEL MIB COMMAND...
  local label=$1 mib=$2
  shift 2
  for _ in 1 2 3; do
    /usr/bin/time -f "%M" -o "$out/time.tmp" "$@" >/dev/null
    cat "$out/time.tmp"
  done | sort -n | sed -n 2p | xargs printf '%s\t%s\t%s\n' "$label" "$mib" >>"$out/rss.tsv"
  rm -f "$out/time.tmp"
}

for mib in "${sizes_mib[@]}"; do
  f="$work"
  make_files "$f" "$mib"
  runs=$(runs_for "$mib")
  echo "bench: tmpfs, $mib MiB, $runs pairs each ($((SECONDS - started)) s in)" >&2
  pairs "encrypt_${mib}.json" "$mib" null \
    mirdcng "$mirdcng encrypt --force $f/plain_${mib}M.EBS $f/out_${mib}M.EBS" \
    openssl "${openssl_enc[*]} -in $f/plain_${mib}M.EBS -out $f/out_${mib}M.ossl"
  pairs "decrypt_${mib}.json" "$mib" null \
    mirdcng "$mirdcng decrypt --force $f/sealed_${mib}M.EBS $f/back_${mib}M.EBS" \
    openssl "${openssl_enc[*]} -d -in $f/sealed_${mib}M.ossl -out $f/back_${mib}M.bin"
  cmp -s "$f/plain_${mib}M.EBS" "$f/back_${mib}M.EBS"
  cmp -s "$f/plain_${mib}M.EBS" "$f/back_${mib}M.bin"
  # Both write into a pipe that pairs.py reads, as a reader of cat's would.
  pairs "cat_${mib}.json" "$mib" pipe \
    mirdcng "$mirdcng cat $f/sealed_${mib}M.EBS" \
    openssl "${openssl_enc[*]} -d -in $f/sealed_${mib}M.ossl"
  "$mirdcng" cat "$f/sealed_${mib}M.EBS" | cmp -s "$f/plain_${mib}M.EBS" -

  peak "mirdcng encrypt" "$mib" "$mirdcng" encrypt --force "$f/plain_${mib}M.EBS" \
    "$f/out_${mib}M.EBS"
  peak "openssl enc" "$mib" "${openssl_enc[@]}" -in "$f/plain_${mib}M.EBS" \
    -out "$f/out_${mib}M.ossl"
  peak "mirdcng decrypt" "$mib" "$mirdcng" decrypt --force "$f/sealed_${mib}M.EBS" \
    "$f/back_${mib}M.EBS"
  peak "openssl enc -d" "$mib" "${openssl_enc[@]}" -d -in "$f/sealed_${mib}M.ossl" \
    -out /dev/null
  peak "mirdcng cat" "$mib" "$mirdcng" cat "$f/sealed_${mib}M.EBS"
  rm -f "$f"/*_"${mib}"M.*
done

# On the disk the destination's sync is real work: mirdcng syncs its
# temporary and the folder, and the fair peer syncs what it wrote.
f="$disk"
mib=$disk_mib
make_files "$f" "$mib"
runs=$(($(runs_for "$mib") / 2))
if [ "$runs" -lt 2 ]; then runs=2; fi
echo "bench: disk, $mib MiB, $runs pairs each ($((SECONDS - started)) s in)" >&2
pairs "disk_encrypt_${mib}.json" "$mib" null \
  mirdcng "$mirdcng encrypt --force $f/plain_${mib}M.EBS $f/out_${mib}M.EBS" \
  openssl "${openssl_enc[*]} -in $f/plain_${mib}M.EBS -out $f/out_${mib}M.ossl && sync $f/out_${mib}M.ossl"
pairs "disk_decrypt_${mib}.json" "$mib" null \
  mirdcng "$mirdcng decrypt --force $f/sealed_${mib}M.EBS $f/back_${mib}M.EBS" \
  openssl "${openssl_enc[*]} -d -in $f/sealed_${mib}M.ossl -out $f/back_${mib}M.bin && sync $f/back_${mib}M.bin"
cmp -s "$f/plain_${mib}M.EBS" "$f/back_${mib}M.EBS"
cmp -s "$f/plain_${mib}M.EBS" "$f/back_${mib}M.bin"
rm -f "$f"/*_"${mib}"M.*

echo "bench: in-process benchmarks (sizes ${flat_mib[*]} MiB; $((SECONDS - started)) s in)" >&2
repetitions=5
if [ "$quick" -eq 1 ]; then repetitions=2; fi
gb_dir="$work/gb"
mkdir -p "$gb_dir"
sizes_arg=$(IFS=,; echo "${flat_mib[*]}")
"$bench" --dir="$gb_dir" --sizes="$sizes_arg" \
  --benchmark_repetitions="$repetitions" \
  --benchmark_out="$out/gbench.json" --benchmark_out_format=json >&2
rm -rf "$gb_dir"

{
  echo "model=$(lscpu | sed -n 's/^Model name: *//p' | head -1)" \
    "(family $(lscpu | sed -n 's/^CPU family: *//p'), model $(lscpu | sed -n 's/^Model: *//p'))"
  echo "cpus=$(nproc)"
  echo "memory=$(free -g | awk '/Mem:/ {print $2 " GiB"}')"
  echo "kernel=$(uname -r)"
  echo "openssl=$(openssl version)"
  echo "files=$(df -T "$work" | awk 'NR==2 {print $2}')"
  echo "disk=$(df -T "$disk" | awk 'NR==2 {print $2 " on " $1}')"
  echo "load_at_start=$load_at_start"
  echo "load=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "date=$date_at_start"
  echo "seconds=$((SECONDS - started))"
} >"$out/machine.txt"

python3 bench/report.py "$out"
