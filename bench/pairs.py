#!/usr/bin/env python3
"""Runs two commands in alternation, as pairs, and records every run.

Usage: bench/pairs.py --runs N [--warmup W] --export-json FILE
                      -n NAME_A "COMMAND A" -n NAME_B "COMMAND B"

Each pair runs both commands once, back to back, and the order changes from
one pair to the next (A B, B A, A B, ...), so that both sides of a pair meet
the same moment of the machine and neither always runs right after the other.
A ratio taken pair by pair is then steadier than a ratio of two separate
series, on a machine whose speed drifts while it is measured.

For every run it records the wall time, the user and system time, the peak
resident memory and the page faults that the kernel counts for the child
(wait4). Output goes to /dev/null and input comes from it; a command that
fails stops the whole measurement. Commands are split as a shell would split
them, and are not run through a shell.
"""

import argparse
import json
import os
import shlex
import subprocess
import sys
import time


def run_once(argv):
    """One run: wall seconds and the child's resource use."""
    with open(os.devnull, "rb") as null_in, open(os.devnull, "wb") as null_out:
        start = time.perf_counter()
        child = subprocess.Popen(argv, stdin=null_in, stdout=null_out)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        sys.exit(f"pairs: '{shlex.join(argv)}' exited with {child.returncode}")
    return {
        "time": wall,
        "user": usage.ru_utime,
        "system": usage.ru_stime,
        "max_rss_kib": usage.ru_maxrss,
        "minor_faults": usage.ru_minflt,
        "major_faults": usage.ru_majflt,
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, required=True, help="pairs to measure")
    parser.add_argument("--warmup", type=int, default=1, help="pairs to run first, unrecorded")
    parser.add_argument("--export-json", required=True)
    parser.add_argument("-n", "--name", action="append", required=True)
    parser.add_argument("commands", nargs="+")
    args = parser.parse_intermixed_args()
    if len(args.name) != 2 or len(args.commands) != 2:
        parser.error("give exactly two commands, each after its -n NAME")

    argvs = [shlex.split(command) for command in args.commands]
    for _ in range(args.warmup):
        for argv in argvs:
            run_once(argv)
    runs = [[], []]
    for pair in range(args.runs):
        order = (0, 1) if pair % 2 == 0 else (1, 0)
        for side in order:
            runs[side].append(run_once(argvs[side]))

    results = []
    for side in (0, 1):
        entry = {"command": args.name[side], "argv": args.commands[side]}
        for field in runs[side][0]:
            entry[field + "s" if field == "time" else field] = [r[field] for r in runs[side]]
        results.append(entry)
    with open(args.export_json, "w", encoding="utf-8") as f:
        json.dump({"paired": True, "results": results}, f, indent=1)


if __name__ == "__main__":
    main()
