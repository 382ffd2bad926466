#!/usr/bin/env python3
"""Runs every fuzz target of a fuzz build for a set time and prints a table.

usage: fuzz_table.py [--seconds N] [BUILD_DIR]

BUILD_DIR is the fuzz preset's build directory (default build/fuzz). Each
target runs over its seed corpus (tests/fuzz/corpus/<target>) and the inputs it
found before (BUILD_DIR/tests/fuzz/corpus/<target>, where new ones go), for N
seconds (default: FUZZ_SECONDS, else 60). A crash leaves its input as
BUILD_DIR/tests/fuzz/<target>-crash-* and the log as <target>.log beside it.
Besides runs per second of wall time the table gives runs per second of
processor time, which does not depend on what else the machine runs.
The exit status is 1 when any target crashed.
"""
import argparse
import os
import re
import resource
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def parse(log):
    """Runs, runs per second and coverage (edges) from a libFuzzer log."""
    runs = rate = cov = None
    for line in log.splitlines():
        m = re.match(r"stat::number_of_executed_units:\s*(\d+)", line)
        if m:
            runs = int(m.group(1))
        m = re.match(r"stat::average_exec_per_sec:\s*(\d+)", line)
        if m:
            rate = int(m.group(1))
        m = re.match(r"#\d+\s+\w+\s+cov: (\d+)", line)
        if m:
            cov = int(m.group(1))
    return runs, rate, cov


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build_dir", nargs="?", default=os.path.join(ROOT, "build", "fuzz"))
    parser.add_argument("--seconds", type=int,
                        default=int(os.environ.get("FUZZ_SECONDS") or 60),
                        help="time per target (default: FUZZ_SECONDS, else 60)")
    args = parser.parse_args()
    if args.seconds <= 0:
        parser.error("--seconds must be positive")

    fuzz_dir = os.path.join(args.build_dir, "tests", "fuzz")
    listing = os.path.join(fuzz_dir, "targets.txt")
    if not os.path.exists(listing):
        print(f"fuzz_table: no {listing}: build the fuzz preset first", file=sys.stderr)
        return 2
    targets = [t.strip() for t in open(listing) if t.strip()]

    rows = []
    for n, target in enumerate(targets, 1):
        print(f"[{n}/{len(targets)}] {target}: {args.seconds} s ...", flush=True)
        scratch = os.path.join(fuzz_dir, "corpus", target)
        os.makedirs(scratch, exist_ok=True)
        prefix = os.path.join(fuzz_dir, target + "-")
        before = {f for f in os.listdir(fuzz_dir) if f.startswith(target + "-")}
        log_path = os.path.join(fuzz_dir, target + ".log")
        started = time.monotonic()
        cpu_before = resource.getrusage(resource.RUSAGE_CHILDREN)
        with open(log_path, "w") as log:
            rc = subprocess.call(
                [os.path.join(fuzz_dir, target), scratch,
                 os.path.join(ROOT, "tests", "fuzz", "corpus", target),
                 f"-max_total_time={args.seconds}", "-timeout=20", "-rss_limit_mb=4096",
                 "-print_final_stats=1", f"-artifact_prefix={prefix}"],
                stdout=log, stderr=subprocess.STDOUT)
        elapsed = time.monotonic() - started
        cpu_after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (cpu_after.ru_utime - cpu_before.ru_utime) + (cpu_after.ru_stime - cpu_before.ru_stime)
        runs, rate, cov = parse(open(log_path, errors="replace").read())
        found = [f for f in os.listdir(fuzz_dir)
                 if f.startswith(target + "-") and f not in before and not f.endswith(".log")]
        crashes = len(found) if found else (1 if rc != 0 else 0)
        if runs is not None and not rate:
            rate = int(runs / elapsed)
        # Runs per second of processor time: what the target does when it has a core
        # to itself, whatever else the machine runs.
        per_cpu = int(runs / cpu) if runs is not None and cpu > 0 else None
        rows.append((target, runs, rate, per_cpu, cov, crashes))
        for f in found:
            print(f"    crash input: {os.path.join(fuzz_dir, f)} (log {log_path})")

    header = ("target", "runs", "runs/s", "runs/CPU s", "coverage (edges)", "crashes")
    cells = [header] + [
        (t, "-" if r is None else f"{r:,}", "-" if s is None else f"{s:,}",
         "-" if p is None else f"{p:,}", "-" if c is None else str(c), str(k))
        for t, r, s, p, c, k in rows]
    widths = [max(len(row[i]) for row in cells) for i in range(len(header))]
    print()
    for i, row in enumerate(cells):
        print("  ".join(row[0].ljust(widths[0]) if j == 0 else row[j].rjust(widths[j])
                        for j in range(len(row))))
        if i == 0:
            print("  ".join("-" * w for w in widths))
    return 1 if any(r[5] for r in rows) else 0


if __name__ == "__main__":
    sys.exit(main())
