#!/usr/bin/env python3
"""Turns the raw results of bench/run.sh into one Markdown report.

Usage: bench/report.py RESULTS_FOLDER

Reads machine.txt, the hyperfine exports {encrypt,decrypt,cat}_<MiB>.json,
rss.tsv and gbench.json from the folder, and prints the tables and the goals,
each met or missed. Every time is a median; the spread beside it is the
interquartile range of the runs (hyperfine) or the lowest and highest
repetition (Google Benchmark). Ratios are ratios of medians.
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


class Hyperfine:
    """The runs of one comparison: command name -> list of seconds."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        self.times = {r["command"]: r["times"] for r in data["results"]}

    def median(self, name):
        return statistics.median(self.times[name])

    def cell(self, name):
        return fmt_spread(*quartiles(self.times[name]))


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
          f"Linux {machine['kernel']}; {machine['openssl']}; {machine['hyperfine']}; "
          f"files on {machine['files']}; load average at the end {machine['load']}; "
          f"{machine['date']}.")
    print()

    # --- commands against openssl enc -------------------------------------
    print("### `mirdcng` against `openssl enc` (hyperfine, median [interquartile range])")
    print()
    print("| size | operation | mirdcng | openssl | mirdcng ÷ openssl |")
    print("|---|---|---|---|---|")
    commands = {}
    for mib in SIZES:
        for op, peer in (("encrypt", "enc"), ("decrypt", "enc -d"),
                         ("cat", "enc -d -out /dev/null")):
            path = os.path.join(folder, f"{op}_{mib}.json")
            if not os.path.exists(path):
                print(f"| {mib} MiB | `{op}` | not built yet | | |")
                continue
            h = Hyperfine(path)
            commands[(op, mib)] = h
            ratio = h.median("mirdcng") / h.median("openssl")
            print(f"| {mib} MiB | `mirdcng {op}` vs `openssl {peer}` | {h.cell('mirdcng')} "
                  f"| {h.cell('openssl')} | {ratio:.2f} |")
            if mib == BIG:
                goals.append((f"`{op}` {BIG} MiB ≤ 0.8 × `openssl {peer}`", f"{ratio:.2f} ×",
                              ratio <= 0.8))
    print()

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
    for label, limit in (("mirdcng encrypt", 2.1), ("mirdcng decrypt", 2.1),
                         ("mirdcng cat", 3.1)):
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
    print("| operation | per file | plain read-and-write copy | ÷ copy |")
    print("|---|---|---|---|")
    small_copy = gb.seconds("SmallCopy")
    for op, family in (("`cng_77x` (encrypt)", "SmallEncrypt"), ("`cng_77z` (decrypt)",
                                                                 "SmallDecrypt")):
        t = gb.seconds(family)
        if t is None or small_copy is None:
            continue
        ratio = t[1] / small_copy[1]
        print(f"| {op} | {fmt_spread(*t)} | {fmt_spread(*small_copy)} | {ratio:.2f} |")
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
