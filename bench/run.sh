#!/usr/bin/env bash
# Measures mirdcng against `openssl enc` and against the machine's own ceiling,
# and prints one table (Markdown) with every goal met or missed.
#
#   bench/run.sh            the whole bench (a few minutes)
#   bench/run.sh --quick    fewer runs and no 1 GiB file, to try the harness
#
# Environment: BENCH_DIR   folder for the generated files (default: a new
#                          folder in /dev/shm when it has room, else in TMPDIR;
#                          removed afterwards unless BENCH_KEEP=1)
#              BENCH_OUT   folder for the raw results (default: build/bench-results;
#                          the previous run's move to BENCH_OUT.previous, and
#                          the report sets the two side by side)
#
# It installs what it lacks (GNU time, OpenSSL, Google Benchmark), builds the
# `bench` preset (optimised, with the benchmark program), and runs:
#   1. bench/pairs.py: `mirdcng encrypt|decrypt|cat` against `openssl enc [-d]`
#      (mirdcng with --force, since each run replaces the last one's output)
#      on the same incompressible 1, 16 and 256 MiB files, in alternating
#      pairs, so that both sides of every pair meet the same machine;
#   2. GNU time: the peak resident memory of each command, median of three;
#   3. mirdcng_bench (Google Benchmark, through the library's exports): 4 KiB
#      files against a plain copy, time per byte from 1 MiB up, one thread
#      against two, and AES-128-CBC alone plus a file copy (the ceiling).
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

# The largest file of the time-per-byte row: 1 GiB when memory allows it
# (the file, its container, two outputs and the process's own 2 GiB).
sizes_mib=(1 16 256)
flat_mib=(1 4 16 64 256)
avail_kib=$(awk '/MemAvailable/ {print $2}' /proc/meminfo)
if [ "$quick" -eq 0 ] && [ "$avail_kib" -gt $((10 * 1024 * 1024)) ]; then
  flat_mib+=(1024)
fi

# Files live in memory (tmpfs) when there is room, so the disk's write-back
# does not add its noise to either side.
if [ -n "${BENCH_DIR:-}" ]; then
  work="$BENCH_DIR"
  mkdir -p "$work"
elif [ -d /dev/shm ] && [ "$avail_kib" -gt $((8 * 1024 * 1024)) ]; then
  work=$(mktemp -d /dev/shm/mirdcng-bench.XXXXXX)
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/mirdcng-bench.XXXXXX")
fi
if [ "${BENCH_KEEP:-0}" != 1 ]; then
  trap 'rm -rf "$work"' EXIT
fi
echo "bench: files in $work, results in $out" >&2

key=000102030405060708090a0b0c0d0e0f
iv=0f0e0d0c0b0a09080706050403020100
openssl_enc=(openssl enc -aes-128-cbc -K "$key" -iv "$iv")

# Incompressible content whose first byte is not the container marker (0xDD),
# which mirdcng would refuse as already encrypted.
make_file() {  # PATH MIB
  { printf 'P'; head -c $(($2 * 1048576 - 1)) /dev/urandom; } >"$1"
}

has_cat=0
if "$mirdcng" --help 2>/dev/null | grep -qE '^ +cat '; then
  has_cat=1
fi

runs_for() {  # MIB -> pairs
  if [ "$quick" -eq 1 ]; then echo 3
  elif [ "$1" -ge 256 ]; then echo 16
  elif [ "$1" -ge 16 ]; then echo 20
  else echo 30
  fi
}

pairs() {  # JSON NAME_A COMMAND_A NAME_B COMMAND_B
  python3 bench/pairs.py --warmup 1 --runs "$runs" --export-json "$out/$1" \
    -n "$2" "$3" -n "$4" "$5"
}

for mib in "${sizes_mib[@]}"; do
  plain="$work/plain_${mib}M.EBS"
  sealed="$work/sealed_${mib}M.EBS"
  make_file "$plain" "$mib"
  "$mirdcng" encrypt "$plain" "$sealed" >/dev/null
  "${openssl_enc[@]}" -in "$plain" -out "$work/sealed_${mib}M.ossl"
  runs=$(runs_for "$mib")
  echo "bench: $mib MiB, $runs pairs each" >&2

  pairs "encrypt_${mib}.json" \
    mirdcng "$mirdcng encrypt --force $plain $work/out_${mib}M.EBS" \
    openssl "${openssl_enc[*]} -in $plain -out $work/out_${mib}M.ossl"
  pairs "decrypt_${mib}.json" \
    mirdcng "$mirdcng decrypt --force $sealed $work/back_${mib}M.EBS" \
    openssl "${openssl_enc[*]} -d -in $work/sealed_${mib}M.ossl -out $work/back_${mib}M.bin"
  cmp -s "$plain" "$work/back_${mib}M.EBS"
  cmp -s "$plain" "$work/back_${mib}M.bin"
  if [ "$has_cat" -eq 1 ]; then
    # pairs.py sends the command's output to /dev/null, as `> /dev/null` does.
    pairs "cat_${mib}.json" \
      mirdcng "$mirdcng cat $sealed" \
      openssl "${openssl_enc[*]} -d -in $work/sealed_${mib}M.ossl -out /dev/null"
    "$mirdcng" cat "$sealed" | cmp -s "$plain" -
  fi

  # Peak resident memory, the median of three runs of each.
  peak() {  # LABEL COMMAND...
    local label=$1
    shift
    for _ in 1 2 3; do
      /usr/bin/time -f "%M" -o "$out/time.tmp" "$@" >/dev/null
      cat "$out/time.tmp"
    done | sort -n | sed -n 2p | xargs printf '%s\t%s\t%s\n' "$label" "$mib" >>"$out/rss.tsv"
  }
  peak "mirdcng encrypt" "$mirdcng" encrypt --force "$plain" "$work/out_${mib}M.EBS"
  peak "openssl enc" "${openssl_enc[@]}" -in "$plain" -out "$work/out_${mib}M.ossl"
  peak "mirdcng decrypt" "$mirdcng" decrypt --force "$sealed" "$work/back_${mib}M.EBS"
  peak "openssl enc -d" "${openssl_enc[@]}" -d -in "$work/sealed_${mib}M.ossl" -out /dev/null
  if [ "$has_cat" -eq 1 ]; then
    peak "mirdcng cat" "$mirdcng" cat "$sealed"
  fi
  rm -f "$out/time.tmp" "$work"/out_"${mib}"M.* "$work"/back_"${mib}"M.*
done

echo "bench: in-process benchmarks (sizes ${flat_mib[*]} MiB)" >&2
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
  echo "load_at_start=$load_at_start"
  echo "load=$(cut -d' ' -f1-3 /proc/loadavg)"
  echo "date=$date_at_start"
  echo "has_cat=$has_cat"
} >"$out/machine.txt"

python3 bench/report.py "$out"
bench/tree.sh $([ "$quick" -eq 1 ] && echo --quick) "$mirdcng"
