#!/usr/bin/env bash
# Seals a tree of 2,000 files in place (sizes spread evenly on a log scale
# from 1 KiB to 4 MiB, about 1 GiB in all, incompressible) three ways:
#   tree   `mirdcng encrypt -i -r TREE`, with its defaults (one worker for
#          each processor, the default memory budget)
#   loop   a shell loop of single calls, `mirdcng encrypt FILE FILE`
#   xargs  the same single calls through `xargs -P $(nproc)`
# Each round starts each way on a fresh copy of the tree, in an order that
# turns from round to round; every figure is the median over the rounds with
# its interquartile range, and a ratio is the median of the rounds' own
# ratios, so that both sides of it met the same machine.
#
#   bench/tree.sh [--quick] [MIRDCNG]
#
# --quick: 200 files and 3 rounds, to try the harness. MIRDCNG: the command
# to measure (default: the bench preset's, built when missing). BENCH_DIR and
# BENCH_KEEP as for bench/run.sh; TREE_ROUNDS sets the rounds (default 3:
# about four minutes, most of it the single calls).
# Nothing here is part of the tests; no timing fails anything.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

files=2000 rounds=${TREE_ROUNDS:-3}
if [ "${1:-}" = "--quick" ]; then
  files=200 rounds=${TREE_ROUNDS:-3}
  shift
fi
mirdcng=${1:-$root/build/bench/tools/mirdcng}
if [ $# -eq 0 ] && [ ! -x "$mirdcng" ]; then
  cmake --preset bench >/dev/null
  cmake --build --preset bench --target mirdcng_tool >&2
fi

# Files live in memory (tmpfs) when there is room, as bench/run.sh's do.
base=${BENCH_DIR:-/dev/shm}
if [ -z "${BENCH_DIR:-}" ] &&
  { [ ! -d "$base" ] || [ "$(awk '/MemAvailable/ {print $2}' /proc/meminfo)" -lt 6000000 ]; }; then
  base=${TMPDIR:-/tmp}
fi
mkdir -p "$base"
work=$(mktemp -d "$base/mirdcng-tree.XXXXXX")
if [ "${BENCH_KEEP:-0}" != 1 ]; then
  trap 'rm -rf "$work"' EXIT
fi

# The tree: 20 folders of equal share, sizes from a fixed seed. A first byte
# other than 0xDD keeps every file sealable.
echo "tree: making $files files in $work/master" >&2
awk -v n="$files" 'BEGIN { srand(21); for (i = 0; i < n; i++)
  printf "%02d/f%04d %d\n", i % 20, i, int(1024 * exp(rand() * log(4096))) }' |
  while read -r name size; do
    mkdir -p "$work/master/${name%/*}"
    { printf 'P'; head -c $((size - 1)) /dev/urandom; } >"$work/master/$name"
  done
bytes=$(du -sb "$work/master" | cut -f1)

seal_tree() { "$mirdcng" encrypt -i -r "$1"; }
seal_loop() {
  find "$1" -type f | while read -r file; do "$mirdcng" encrypt "$file" "$file"; done
}
seal_xargs() {
  find "$1" -type f -print0 | xargs -0 -P "$(nproc)" -I{} "$mirdcng" encrypt {} {}
}
ways=(tree loop xargs)

load_at_start=$(cut -d' ' -f1-3 /proc/loadavg)
results=$work/times.tsv
: >"$results"
for ((round = 0; round < rounds; round++)); do
  for ((i = 0; i < ${#ways[@]}; i++)); do
    way=${ways[(i + round) % ${#ways[@]}]}
    rm -rf "$work/copy"
    cp -a "$work/master" "$work/copy"
    start=$EPOCHREALTIME
    "seal_$way" "$work/copy"
    end=$EPOCHREALTIME
    # Every file sealed, each once: the run counts only when all verify.
    "$mirdcng" verify -r "$work/copy"
    echo "$round $way $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", b - a }')" \
      >>"$results"
    echo "tree: round $((round + 1))/$rounds, $way done" >&2
  done
done

python3 - "$results" "$files" "$bytes" "$rounds" "$load_at_start" <<'EOF'
import statistics, sys
path, files, size, rounds, load = sys.argv[1:]
times = {}
for line in open(path):
    r, way, seconds = line.split()
    times.setdefault(way, {})[int(r)] = float(seconds)

def spread(values):
    q = statistics.quantiles(values, n=4, method="inclusive")
    return statistics.median(values), q[0], q[2]

print(f"\n{files} files, {int(size) / 2**20:.0f} MiB in all, {rounds} rounds "
      f"(load at start {load}, now {open('/proc/loadavg').read().split()[0]})\n")
print("| way | seconds, median [IQR] | MiB/s | ÷ `encrypt -i -r`, round by round: median [lowest–highest] |")
print("|---|---|---|---|")
for way, label in (("tree", "`mirdcng encrypt -i -r`"), ("loop", "shell loop of single calls"),
                   ("xargs", "`xargs -P` of single calls")):
    values = list(times[way].values())
    median, low, high = spread(values)
    rate = int(size) / 2**20 / median
    ratios = [times[way][r] / times["tree"][r] for r in times[way]]
    ratio = (f"{statistics.median(ratios):.2f} [{min(ratios):.2f}–{max(ratios):.2f}]"
             if way != "tree" else "1")
    print(f"| {label} | {median:.2f} [{low:.2f}–{high:.2f}] | {rate:.0f} | {ratio} |")
EOF
