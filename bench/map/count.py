#!/usr/bin/python3
"""map! cost per operation in instructions, as callgrind counts them: stable whatever the load
of the machine, where wall times are not.

usage: bench/map/count.py [--zub path/to/zub-cli] [--keys N]

For integer keys and for string keys ("k" and a number) it puts N keys into a map! and selects
them again, and prints the instructions of one put and of one select (the inclusive counts of the
map's put and select actions divided by N), and of the whole program per key. Needs valgrind.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))

PROGRAM = """main: func [n /local m s] [
    m: make map! []
    repeat i n [put m KEY i % 7]
    s: 0
    repeat i n [s: s + select m KEY]
    s
]
print main N
"""
KEYS = {"integer": "i", "string": 'append copy "k" i'}
ACTIONS = {"put": "map_put", "select": "map_select"}


def inclusive(report, function):
    """The inclusive count of the first function whose name holds `function`, else 0."""
    for line in report.splitlines():
        if function + "(" in line and "'2" not in line:
            match = re.match(r"\s*([\d,]+)", line)
            if match:
                return int(match.group(1).replace(",", ""))
    return 0


def measure(zub, key, n):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "map.zub")
        with open(source, "w", encoding="utf-8") as f:
            f.write(PROGRAM.replace("KEY", KEYS[key]).replace("N", str(n)))
        out = os.path.join(folder, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", zub, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        report = subprocess.run(["callgrind_annotate", "--inclusive=yes", out], check=True,
                                stdout=subprocess.PIPE, text=True).stdout
    total = int(re.search(r"([\d,]+)\s+\(100.0%\)\s+PROGRAM TOTALS", report).group(1).replace(",", ""))
    return {name: inclusive(report, function) / n for name, function in ACTIONS.items()}, total / n


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zub", default=os.path.join(here, "..", "..", "build", "zub-cli"))
    parser.add_argument("--keys", type=int, default=200000)
    options = parser.parse_args()
    print(f"{'keys':8} {'put':>8} {'select':>8} {'program/key':>12}   (instructions, {options.keys} keys)")
    for key in KEYS:
        actions, whole = measure(options.zub, key, options.keys)
        print(f"{key:8} {actions['put']:8.0f} {actions['select']:8.0f} {whole:12.0f}")


if __name__ == "__main__":
    sys.exit(main())
