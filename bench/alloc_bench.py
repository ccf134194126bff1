#!/usr/bin/python3
"""Allocation benchmark: the programs of bench/programs/ in Zub and in Python 3, run side by side.

For each pair it prints the best wall time of a few runs and the peak resident memory of each
side, and the Zub/Python ratios (below 1.0: Zub is faster or smaller). The two sides must print the
same text; a mismatch or a failing run is reported and ends the benchmark with status 1.

    python3 bench/alloc_bench.py [--zub PATH/zub-cli] [--runs N] [program ...]
"""
import argparse
import os
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
PROGRAMS = HERE / "programs"


def measure(command, runs):
    best, peak, text = None, 0, None
    for _ in range(runs):
        start = time.perf_counter()
        child = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Read the output first, then reap the child with wait4 for its own resource usage.
        out = child.stdout.read()
        err = child.stderr.read()
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        seconds = time.perf_counter() - start
        if child.returncode != 0:
            raise RuntimeError(f"{' '.join(map(str, command))} exited with {child.returncode}: "
                               f"{err.decode('utf-8', 'replace').strip()}")
        best = seconds if best is None else min(best, seconds)
        peak = max(peak, usage.ru_maxrss)
        text = out.decode("utf-8", "replace")
    return best, peak, text


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zub", default=os.environ.get("ZUB_CLI", str(HERE.parent / "build" / "zub-cli")))
    parser.add_argument("--python", default="/usr/bin/python3")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("programs", nargs="*")
    args = parser.parse_args()

    names = args.programs or sorted(p.stem for p in PROGRAMS.glob("*.zub") if (PROGRAMS / f"{p.stem}.py").exists())
    failed = False
    print(f"{'program':<16}{'zub s':>9}{'py s':>9}{'time x':>9}{'zub MiB':>10}{'py MiB':>9}{'mem x':>8}")
    for name in names:
        try:
            zub_s, zub_kb, zub_out = measure([args.zub, str(PROGRAMS / f"{name}.zub")], args.runs)
            py_s, py_kb, py_out = measure([args.python, str(PROGRAMS / f"{name}.py")], args.runs)
        except RuntimeError as fault:
            print(f"{name:<16}failed: {fault}")
            failed = True
            continue
        note = "" if zub_out.split() == py_out.split() else "  (outputs differ)"
        failed |= bool(note)
        print(f"{name:<16}{zub_s:>9.3f}{py_s:>9.3f}{zub_s / py_s:>9.2f}"
              f"{zub_kb / 1024:>10.1f}{py_kb / 1024:>9.1f}{zub_kb / py_kb:>8.2f}{note}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
