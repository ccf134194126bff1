#!/usr/bin/python3
"""File input and output: each program of this folder in Zub and in python3.

usage: bench/files/run.py [path/to/zub-cli] [program ...]

Each program builds its data and its files in a folder of its own under /tmp, then repeats the
measured work REPEAT times, and removes the folder. The driver runs it with REPEAT = 0 and with a
REPEAT large enough to take a measurable time, and divides the difference: building the data and
starting the process do not count. The best of three runs counts for each. A ratio below 1 means
Zub is faster.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import PYTHON, per_run  # noqa: E402
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")
names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))

print(f"{'program':16} {'zub ms':>9} {'python ms':>10} {'zub/py':>7}")
for name in names:
    z = per_run([zub], os.path.join(here, name + ".zub"), ".zub")
    p = per_run([PYTHON], os.path.join(here, name + ".py"), ".py")
    print(f"{name:16} {z * 1e3:9.2f} {p * 1e3:10.2f} {z / p:7.2f}")
