#!/usr/bin/env python3
"""Runs two commands in alternation, as pairs, and records every run.

Usage: bench/pairs.py --runs N [--warmup W] [--sink null|pipe] [--fresh-memory]
                      --export-json FILE -n NAME_A "COMMAND A" -n NAME_B "COMMAND B"

Each pair runs both commands once, back to back, and the order changes from
one pair to the next (A B, B A, A B, ...), so that both sides of a pair meet
the same moment of the machine and neither always runs right after the other.
A ratio taken pair by pair is then steadier than a ratio of two separate
series, on a machine whose speed drifts while it is measured.

For every run it records the wall time, the user and system time, the peak
resident memory and the page faults that the kernel counts for the child
(wait4). Input comes from /dev/null; output goes to /dev/null, or with
--sink pipe into a pipe that this program reads to its end (as a reader of
`mirdcng cat` would), the wall time ending when the last byte has been read
and the command has exited. A command may be several, joined by " && " (as
`openssl enc ... && sync OUT`): they run one after the other, and their
times and faults add up. A command that fails stops the whole measurement.
Commands are split as a shell would split them, and are not run through a
shell.

With --fresh-memory it also measures, before the first pair and after the
last, what touching fresh memory costs the machine at that moment: the time
of `dd if=/dev/zero of=/dev/null bs=256M count=2`, which maps and fills
2 x 256 MiB of new memory. On a virtual machine whose host takes back the
guest's free memory this swings by several times from one minute to the
next, and with it every command that holds a large file in memory.

At the end it prints, for each command, the median and the range of its wall
and system time, and the pair-by-pair ratio of A to B with the part of it
that is A's system time (A's system time over B's wall time).
"""

import argparse
import json
import os
import shlex
import statistics
import subprocess
import sys
import time

PIPE_CHUNK = 1 << 20
FRESH_MEMORY = ["dd", "if=/dev/zero", "of=/dev/null", "bs=256M", "count=2"]


def run_one(argv, sink, quiet=False):
    """One command: wall seconds and the child's resource use. A command that
    fails ends the measurement."""
    with open(os.devnull, "rb") as null_in, open(os.devnull, "wb") as null_out:
        errors = null_out if quiet else None
        start = time.perf_counter()
        if sink == "pipe":
            child = subprocess.Popen(argv, stdin=null_in, stdout=subprocess.PIPE,
                                     stderr=errors)
            with child.stdout:
                # Into one buffer, over and over, as a reader that keeps up.
                buffer = [bytearray(PIPE_CHUNK)]
                while os.readv(child.stdout.fileno(), buffer) > 0:
                    pass
        else:
            child = subprocess.Popen(argv, stdin=null_in, stdout=null_out, stderr=errors)
        _, status, usage = os.wait4(child.pid, 0)
        wall = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"pairs: '{shlex.join(argv)}' exited with {code}")
    return {
        "time": wall,
        "user": usage.ru_utime,
        "system": usage.ru_stime,
        "max_rss_kib": usage.ru_maxrss,
        "minor_faults": usage.ru_minflt,
        "major_faults": usage.ru_majflt,
    }


def run_once(steps, sink):
    """One run of a command made of `steps`, run in turn; the last one's
    output goes to the sink."""
    total = None
    for index, argv in enumerate(steps):
        one = run_one(argv, sink if index == len(steps) - 1 else "null")
        if total is None:
            total = one
            continue
        for field in total:
            total[field] = (max(total[field], one[field]) if field == "max_rss_kib"
                            else total[field] + one[field])
    return total


def split_command(command):
    steps = [[]]
    for word in shlex.split(command):
        if word == "&&":
            steps.append([])
        else:
            steps[-1].append(word)
    if any(not step for step in steps):
        sys.exit(f"pairs: an empty step in '{command}'")
    return steps


def fresh_memory():
    measured = run_one(FRESH_MEMORY, "null", quiet=True)
    return {field: measured[field] for field in ("time", "user", "system")}


def spread(values):
    return f"{statistics.median(values):.3f} [{min(values):.3f}-{max(values):.3f}]"


def summarize(results):
    """The runs' medians and ranges, on standard error."""
    a, b = results
    for side in results:
        print(f"pairs: {side['command']}: wall {spread(side['times'])} s, "
              f"system {spread(side['system'])} s", file=sys.stderr)
    ratios = [x / y for x, y in zip(a["times"], b["times"])]
    shares = [s / y for s, y in zip(a["system"], b["times"])]
    print(f"pairs: {a['command']} / {b['command']}: {spread(ratios)}, of which "
          f"{a['command']}'s system time {spread(shares)}", file=sys.stderr)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, required=True, help="pairs to measure")
    parser.add_argument("--warmup", type=int, default=1, help="pairs to run first, unrecorded")
    parser.add_argument("--sink", choices=("null", "pipe"), default="null",
                        help="where the commands' output goes")
    parser.add_argument("--fresh-memory", action="store_true",
                        help="measure the cost of fresh memory before and after")
    parser.add_argument("--export-json", required=True)
    parser.add_argument("-n", "--name", action="append", required=True)
    parser.add_argument("commands", nargs="+")
    args = parser.parse_intermixed_args()
    if len(args.name) != 2 or len(args.commands) != 2:
        parser.error("give exactly two commands, each after its -n NAME")

    commands = [split_command(command) for command in args.commands]
    for _ in range(args.warmup):
        for steps in commands:
            run_once(steps, args.sink)
    memory = [fresh_memory()] if args.fresh_memory else []
    runs = [[], []]
    for pair in range(args.runs):
        order = (0, 1) if pair % 2 == 0 else (1, 0)
        for side in order:
            runs[side].append(run_once(commands[side], args.sink))
    if args.fresh_memory:
        memory.append(fresh_memory())

    results = []
    for side in (0, 1):
        entry = {"command": args.name[side], "argv": args.commands[side]}
        for field in runs[side][0]:
            entry[field + "s" if field == "time" else field] = [r[field] for r in runs[side]]
        results.append(entry)
    summarize(results)
    with open(args.export_json, "w", encoding="utf-8") as f:
        json.dump({"paired": True, "sink": args.sink, "fresh_memory": memory,
                   "results": results}, f, indent=1)


if __name__ == "__main__":
    main()
