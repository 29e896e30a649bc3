#!/usr/bin/env python3
"""Turns the raw results of bench/run.sh into one Markdown report.

Usage: bench/report.py RESULTS_FOLDER

Reads machine.txt, the paired runs {encrypt,decrypt,cat}_<MiB>.json on tmpfs
and disk_{encrypt,decrypt}_256.json on the disk (bench/pairs.py), rss.tsv and
gbench.json from the folder, and prints the tables and the goals, each met or
missed. Every figure is a median over all the runs made, never a chosen run;
the spread beside it is the interquartile range of the runs (pairs) or the
lowest and highest repetition (Google Benchmark). A ratio of two commands is
the median of the ratios of their pairs, with the lowest and highest pair; a
goal is met when that median meets it. Beside each table of pairs stands the
machine's fresh-memory cost, measured before and after each 256 MiB row, so
that a reader can tell a run that met cheap memory from one that met dear
memory. When RESULTS_FOLDER.previous holds an earlier run, the 256 MiB medians
of both are set side by side.
"""

import json
import os
import statistics
import sys

MIB = 1 << 20
SIZES = (1, 16, 256)
BIG = 256
THREADED = 16


def quartiles(values):
    values = sorted(values)
    if len(values) < 2:
        return values[0], values[0], values[0]
    q1, q2, q3 = statistics.quantiles(values, n=4, method="inclusive")
    return q1, statistics.median(values), q3


def fmt_time(seconds):
    if seconds >= 1:
        return f"{seconds:.2f} s"
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.1f} ms"
    return f"{seconds * 1e6:.1f} µs"


def fmt_spread(low, mid, high):
    return f"{fmt_time(mid)} [{fmt_time(low)}–{fmt_time(high)}]"


def fmt_ratio(low, mid, high):
    return f"{mid:.2f} [{low:.2f}–{high:.2f}]"


class Pairs:
    """The runs of one comparison (bench/pairs.py): mirdcng's and openssl's,
    run i of each made in the same pair."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        self.runs = {r["command"]: r for r in data["results"]}
        self.fresh_memory = data.get("fresh_memory", [])
        self.sink = data.get("sink", "null")

    def median(self, name, field="times"):
        return statistics.median(self.runs[name][field])

    def quartiles(self, name):
        return quartiles(self.runs[name]["times"])

    def cell(self, name):
        return fmt_spread(*self.quartiles(name))

    def pair_ratios(self):
        return [a / b for a, b in zip(self.runs["mirdcng"]["times"],
                                      self.runs["openssl"]["times"])]

    def ratios(self):
        """mirdcng ÷ openssl, pair by pair: (first quartile, median, third)."""
        return quartiles(self.pair_ratios())

    def ratio_range(self):
        """mirdcng ÷ openssl, pair by pair: (lowest, median, highest)."""
        values = self.pair_ratios()
        return min(values), statistics.median(values), max(values)

    def system_range(self, name):
        values = self.runs[name]["system"]
        return min(values), statistics.median(values), max(values)

    def system_share(self):
        """mirdcng's system time over openssl's wall time, pair by pair: the
        part of the ratio that is mirdcng's time in the kernel."""
        values = [s / b for s, b in zip(self.runs["mirdcng"]["system"],
                                        self.runs["openssl"]["times"])]
        return min(values), statistics.median(values), max(values)

    def relative_spread(self, name):
        low, mid, high = self.quartiles(name)
        return (high - low) / mid


class GBench:
    """Google Benchmark repetitions: run name -> list of per-iteration runs."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        self.runs = {}
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            self.runs.setdefault(b["run_name"], []).append(b)

    def find(self, family, mib=None, threads=1):
        for name, runs in self.runs.items():
            parts = name.split("/")
            if parts[0] != family or runs[0].get("threads", 1) != threads:
                continue
            if mib is not None and (len(parts) < 2 or parts[1] != str(mib)):
                continue
            return runs
        return None

    def seconds(self, family, mib=None, threads=1):
        """Real time of one iteration, in seconds: (low, median, high)."""
        runs = self.find(family, mib, threads)
        if not runs:
            return None
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
        values = [r["real_time"] * scale[r["time_unit"]] for r in runs]
        return min(values), statistics.median(values), max(values)

    def sizes(self, family):
        found = set()
        for name in self.runs:
            parts = name.split("/")
            if parts[0] == family and len(parts) > 1 and parts[1].isdigit():
                found.add(int(parts[1]))
        return sorted(found)


def verdict(met):
    return "**met**" if met else "**missed**"


def main():
    folder = sys.argv[1]
    machine = {}
    with open(os.path.join(folder, "machine.txt"), encoding="utf-8") as f:
        for line in f:
            key, _, value = line.rstrip("\n").partition("=")
            machine[key] = value
    goals = []  # (goal, measured, met)

    print("## Results")
    print()
    print(f"Machine: {machine['model']}, {machine['cpus']} CPUs, {machine['memory']}, "
          f"Linux {machine['kernel']}; {machine['openssl']}; files on {machine['files']} "
          f"and on {machine.get('disk', '?')}; load average {machine['load_at_start']} at "
          f"the start, {machine['load']} at the end; {machine['date']}, "
          f"{machine.get('seconds', '?')} s in all.")
    print()

    commands = read_commands(folder)
    print_commands(commands, goals, machine)
    print_previous(folder, commands)

    # --- peak memory -------------------------------------------------------
    rss = {}
    rss_path = os.path.join(folder, "rss.tsv")
    if os.path.exists(rss_path):
        with open(rss_path, encoding="utf-8") as f:
            for line in f:
                label, mib, kib = line.rstrip("\n").split("\t")
                rss[(label, int(mib))] = int(kib) * 1024
    labels = ["mirdcng encrypt", "openssl enc", "mirdcng decrypt", "openssl enc -d",
              "mirdcng cat"]
    print("### Peak resident memory, as a multiple of the file size N (GNU time, median of 3)")
    print()
    print("| size | " + " | ".join(f"`{label}`" for label in labels) + " |")
    print("|---|" + "---|" * len(labels))
    for mib in SIZES:
        cells = []
        for label in labels:
            value = rss.get((label, mib))
            cells.append("—" if value is None
                         else f"{value / (mib * MIB):.2f} N ({value / MIB:.0f} MiB)")
        print(f"| {mib} MiB | " + " | ".join(cells) + " |")
    print()
    for label, limit in (("mirdcng encrypt", 1.1), ("mirdcng decrypt", 1.1),
                         ("mirdcng cat", 1.1)):
        value = rss.get((label, BIG))
        if value is not None:
            multiple = value / (BIG * MIB)
            goals.append((f"`{label.split()[1]}` peak memory ≤ {limit} N", f"{multiple:.2f} N",
                          multiple <= limit))

    gb_path = os.path.join(folder, "gbench.json")
    gb = GBench(gb_path) if os.path.exists(gb_path) else None
    if gb is None:
        print("(no in-process results)")
        print_goals(goals)
        return

    # --- the machine's ceiling ---------------------------------------------
    print(f"### The machine's ceiling at {BIG} MiB (mirdcng_bench: AES-128-CBC alone on "
          "buffers in memory, plus a streaming file copy)")
    print()
    print("| direction | AES alone | file copy | ceiling | `mirdcng` (command) | mirdcng ÷ ceiling |")
    print("|---|---|---|---|---|---|")
    copy = gb.seconds("CeilingCopy", BIG)
    for op, family in (("encrypt", "CeilingAesEncrypt"), ("decrypt", "CeilingAesDecrypt")):
        aes = gb.seconds(family, BIG)
        h = commands.get((op, BIG))
        if aes is None or copy is None or h is None:
            continue
        ceiling = aes[1] + copy[1]
        ratio = h.median("mirdcng") / ceiling
        print(f"| {op} | {fmt_spread(*aes)} | {fmt_spread(*copy)} | {fmt_time(ceiling)} "
              f"| {fmt_time(h.median('mirdcng'))} | {ratio:.2f} |")
        goals.append((f"`{op}` {BIG} MiB ≤ 1.5 × ceiling", f"{ratio:.2f} ×", ratio <= 1.5))
    print()

    # --- small files --------------------------------------------------------
    print("### 4 KiB files, one per call, in one process (mirdcng_bench, median [lowest–highest "
          "repetition])")
    print()
    print("| operation | per file | plain read-and-write copy | ÷ copy "
          "| copy through a synced temporary | ÷ synced copy |")
    print("|---|---|---|---|---|---|")
    small_copy = gb.seconds("SmallCopy")
    synced_copy = gb.seconds("SmallCopySynced")
    for op, family in (("`cng_77x` (encrypt)", "SmallEncrypt"), ("`cng_77z` (decrypt)",
                                                                 "SmallDecrypt")):
        t = gb.seconds(family)
        if t is None or small_copy is None:
            continue
        ratio = t[1] / small_copy[1]
        synced = (f"{fmt_spread(*synced_copy)} | {t[1] / synced_copy[1]:.2f}"
                  if synced_copy is not None else "– | –")
        print(f"| {op} | {fmt_spread(*t)} | {fmt_spread(*small_copy)} | {ratio:.2f} "
              f"| {synced} |")
        if family == "SmallEncrypt":
            goals.append(("4 KiB `cng_77x` ≤ 1.3 × copy", f"{ratio:.2f} ×", ratio <= 1.3))
    print()

    # --- time per byte ------------------------------------------------------
    print("### Time per byte through the exports, one file per call (mirdcng_bench)")
    print()
    print("| size | `cng_77x` ns/byte | `cng_77z` ns/byte | AES-128-CBC encrypt alone | "
          "decrypt alone | fresh memory, filled once |")
    print("|---|---|---|---|---|---|")
    per_byte = {"FileEncrypt": [], "FileDecrypt": []}
    for mib in gb.sizes("FileEncrypt"):
        cells = []
        for family in ("FileEncrypt", "FileDecrypt", "CeilingAesEncrypt", "CeilingAesDecrypt",
                       "CeilingFreshMemory"):
            t = gb.seconds(family, mib)
            if t is None:
                cells.append("—")
                continue
            ns = t[1] * 1e9 / (mib * MIB)
            if family in per_byte:
                per_byte[family].append(ns)
            cells.append(f"{ns:.3f}")
        print(f"| {mib} MiB | " + " | ".join(cells) + " |")
    flat_sizes = gb.sizes("FileEncrypt")
    for family, op in (("FileEncrypt", "encrypt"), ("FileDecrypt", "decrypt")):
        values = per_byte[family]
        if len(values) > 1:
            spread = max(values) / min(values)
            goals.append((f"`{op}` time per byte flat within 20 % "
                          f"({flat_sizes[0]} MiB to {flat_sizes[-1]} MiB)",
                          f"max ÷ min = {spread:.2f}", spread <= 1.2))
    print()

    # --- threads ------------------------------------------------------------
    print(f"### Two threads on distinct {THREADED} MiB files against one (mirdcng_bench, "
          "total throughput)")
    print()
    print("| operation | one thread | two threads | ratio |")
    print("|---|---|---|---|")
    machine = ""
    aes_one = gb.seconds("ThreadsAesEncrypt", THREADED, 1)
    aes_two = gb.seconds("ThreadsAesEncrypt", THREADED, 2)
    if aes_one is not None and aes_two is not None:
        # What the machine itself gave a second thread during the same run: a
        # core taken by another process shows here first.
        machine = f" (AES alone in the same run: {aes_one[1] / aes_two[1]:.2f} ×)"
    for family, op in (("ThreadsEncrypt", "encrypt"), ("ThreadsDecrypt", "decrypt"),
                       ("ThreadsAesEncrypt", "AES-128-CBC encrypt alone")):
        one = gb.seconds(family, THREADED, 1)
        two = gb.seconds(family, THREADED, 2)
        if one is None or two is None:
            continue
        # Google Benchmark divides the wall time by the iterations of all
        # threads together: one file per iteration either way.
        rate_one = THREADED * MIB / one[1]
        rate_two = THREADED * MIB / two[1]
        ratio = rate_two / rate_one
        label = f"`{op}`" if family != "ThreadsAesEncrypt" else f"{op} (the machine)"
        print(f"| {label} | {rate_one / MIB:.0f} MiB/s | {rate_two / MIB:.0f} MiB/s "
              f"| {ratio:.2f} |")
        if family != "ThreadsAesEncrypt":
            goals.append((f"`{op}`: two threads ≥ 1.8 × one", f"{ratio:.2f} ×{machine}",
                          ratio >= 1.8))
    print()
    print_goals(goals)


# (operation, the peer's command as shown, the goal for the ratio at 256 MiB)
OPERATIONS = (("encrypt", "enc", 0.8), ("decrypt", "enc -d", 0.6),
              ("cat", "enc -d", 1.0))
# On the disk the peer syncs what it wrote, as mirdcng does.
DISK_OPERATIONS = (("encrypt", "enc && sync", 1.2), ("decrypt", "enc -d && sync", 1.2))
DISK_SIZE = 256
# How far the slowest pair of a 256 MiB encryption may stand from the median.
WORST_PAIR_GOAL = 1.5
# The interquartile range of mirdcng's own 256 MiB encryption, as a share of
# its median: how far one run of it can be trusted.
SPREAD_GOAL = 0.15
# How close the 256 MiB medians of two runs in a row must come.
REPEAT_GOAL = 0.10


def read_commands(folder):
    commands = {}
    for mib in SIZES:
        for op, _, _ in OPERATIONS:
            path = os.path.join(folder, f"{op}_{mib}.json")
            if os.path.exists(path):
                commands[(op, mib)] = Pairs(path)
    for op, _, _ in DISK_OPERATIONS:
        path = os.path.join(folder, f"disk_{op}_{DISK_SIZE}.json")
        if os.path.exists(path):
            commands[("disk " + op, DISK_SIZE)] = Pairs(path)
    return commands


def fresh_memory_range(rows):
    """The fresh-memory cost measured around `rows`, dd's wall and system time
    for 2 × 256 MiB, lowest to highest; None when it was not measured."""
    samples = [m for pairs in rows for m in pairs.fresh_memory]
    if not samples:
        return None
    walls = [m["time"] for m in samples]
    systems = [m["system"] for m in samples]
    return (f"{fmt_time(min(walls))}–{fmt_time(max(walls))} wall, "
            f"{fmt_time(min(systems))}–{fmt_time(max(systems))} system")


def fresh_memory_line(rows):
    measured = fresh_memory_range(rows)
    if measured is None:
        return "Fresh memory: not measured."
    samples = sum(len(pairs.fresh_memory) for pairs in rows)
    return (f"Fresh memory at that moment (`dd if=/dev/zero of=/dev/null bs=256M count=2`, "
            f"{samples} times, before and after each {BIG} MiB row): {measured}.")


def print_pair_rows(rows, goals, files):
    print("| size | operation | pairs | mirdcng | openssl | "
          "mirdcng ÷ openssl, pair by pair: median [lowest–highest] |")
    print("|---|---|---|---|---|---|")
    for mib, op, peer, limit, pairs in rows:
        if pairs is None:
            print(f"| {mib} MiB | `{op}` | not measured | | | |")
            continue
        ratios = pairs.ratio_range()
        sink = ", both into a pipe" if pairs.sink == "pipe" else ""
        print(f"| {mib} MiB | `mirdcng {op}` vs `openssl {peer}`{sink} "
              f"| {len(pairs.runs['mirdcng']['times'])} | {pairs.cell('mirdcng')} "
              f"| {pairs.cell('openssl')} | {fmt_ratio(*ratios)} |")
        if mib == BIG:
            goals.append((f"`{op}` {BIG} MiB on {files} ≤ {limit:.1f} × `openssl {peer}`{sink} "
                          "(median)", f"{ratios[1]:.2f} ×", ratios[1] <= limit))
    print()
    print(fresh_memory_line([row[4] for row in rows if row[4] is not None and row[0] == BIG]))
    print()


def print_commands(commands, goals, machine):
    print("### `mirdcng` against `openssl enc`, files on "
          f"{machine.get('files', 'tmpfs')} (bench/pairs.py: alternating pairs, "
          "median [interquartile range])")
    print()
    print("`cat` and `openssl enc -d` write into a pipe that the bench reads; the other "
          "commands write files.")
    print()
    print_pair_rows([(mib, op, peer, limit, commands.get((op, mib)))
                     for mib in SIZES for op, peer, limit in OPERATIONS], goals, "tmpfs")

    print(f"### On the disk ({machine.get('disk', 'the build folder')}): the peer syncs "
          "its output")
    print()
    print_pair_rows([(DISK_SIZE, op, peer, limit, commands.get(("disk " + op, DISK_SIZE)))
                     for op, peer, limit in DISK_OPERATIONS], goals, "the disk")

    encrypt = commands.get(("encrypt", BIG))
    if encrypt is not None:
        low, mid, high = encrypt.ratio_range()
        goals.append((f"`encrypt` {BIG} MiB: highest pair ≤ {WORST_PAIR_GOAL} × the median "
                      "(else the fresh memory beside the run was dear)",
                      f"{high / mid:.2f} × ({high:.2f} ÷ {mid:.2f}); fresh memory "
                      f"{fresh_memory_range([encrypt]) or 'not measured'}",
                      high / mid <= WORST_PAIR_GOAL))
        spread = encrypt.relative_spread("mirdcng")
        goals.append((f"`encrypt` {BIG} MiB: interquartile range ≤ {SPREAD_GOAL:.0%} of "
                      "the median", f"{spread:.1%}", spread <= SPREAD_GOAL))

    # Where the time of the largest runs goes: in the process, in the kernel,
    # and how many page faults the kernel took for it.
    print(f"### Where the {BIG} MiB runs spend their time (medians per run; system time "
          "median [lowest–highest])")
    print()
    print("| command | wall | user | system | page faults | mirdcng's system time ÷ "
          "openssl's wall, pair by pair |")
    print("|---|---|---|---|---|---|")
    for key, peer in [((op, BIG), peer) for op, peer, _ in OPERATIONS] + \
            [(("disk " + op, DISK_SIZE), peer) for op, peer, _ in DISK_OPERATIONS]:
        pairs = commands.get(key)
        if pairs is None:
            continue
        op = key[0]
        share = fmt_ratio(*pairs.system_share())
        for name, label in (("mirdcng", f"mirdcng {op}"), ("openssl", f"openssl {peer}")):
            print(f"| `{label}` | {fmt_time(pairs.median(name))} "
                  f"| {fmt_time(pairs.median(name, 'user'))} "
                  f"| {fmt_spread(*pairs.system_range(name))} "
                  f"| {pairs.median(name, 'minor_faults'):.0f} "
                  f"| {share if name == 'mirdcng' else ''} |")
    print()


def print_previous(folder, commands):
    """The 256 MiB medians of the run before this one, beside this run's."""
    previous_folder = folder.rstrip("/") + ".previous"
    if not os.path.isdir(previous_folder):
        return
    previous = read_commands(previous_folder)
    with open(os.path.join(previous_folder, "machine.txt"), encoding="utf-8") as f:
        date = dict(line.rstrip("\n").partition("=")[::2] for line in f).get("date", "?")
    print(f"### The same {BIG} MiB medians in the run before this one ({date})")
    print()
    print("| command | previous run | this run | change |")
    print("|---|---|---|---|")
    worst = 0.0
    for op, peer, _ in OPERATIONS:
        now, before = commands.get((op, BIG)), previous.get((op, BIG))
        if now is None or before is None:
            continue
        for name, label in (("mirdcng", f"mirdcng {op}"), ("openssl", f"openssl {peer}")):
            change = now.median(name) / before.median(name) - 1
            worst = max(worst, abs(change))
            print(f"| `{label}` | {fmt_time(before.median(name))} | {fmt_time(now.median(name))} "
                  f"| {change:+.1%} |")
        change = now.ratios()[1] / before.ratios()[1] - 1
        worst = max(worst, abs(change))
        print(f"| `{op}` ratio | {before.ratios()[1]:.2f} | {now.ratios()[1]:.2f} "
              f"| {change:+.1%} |")
    print()
    print(f"Largest change: {worst:.1%} "
          f"({'within' if worst <= REPEAT_GOAL else 'beyond'} {REPEAT_GOAL:.0%}).")
    print()


def print_goals(goals):
    print("### Goals")
    print()
    print("| goal | measured | |")
    print("|---|---|---|")
    for goal, measured, met in goals:
        print(f"| {goal} | {measured} | {verdict(met)} |")
    print()


if __name__ == "__main__":
    main()
