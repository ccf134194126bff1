#!/usr/bin/python3
"""map! speed: a million integer keys, then a million string keys, put into a map! and looked up
again, against a python3 dict and a Lua table.

usage: bench/map/run.py [--runs N] [--zub path/to/zub-cli] [program ...]

The peers are named by absolute path (a PATH lookup may find a slower build or a start-up shim).
Every program prints one result, and the three results must agree. Each is sized so that python3
takes at least 0.3 s, and does its work inside functions, as a python programmer writes it. The
median of N runs counts for each (default 5); the last line gives the geometric means. A ratio
below 1 means Zub is faster.
"""
import argparse
import math
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import median_run  # noqa: E402

PYTHON = "/usr/bin/python3"
LUA = "/usr/bin/lua5.4"

parser = argparse.ArgumentParser()
parser.add_argument("--runs", type=int, default=5)
parser.add_argument("--zub", default=os.path.join(here, "..", "..", "build", "zub-cli"))
parser.add_argument("programs", nargs="*")
options = parser.parse_args()
names = options.programs or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))


def geometric_mean(ratios):
    return math.exp(sum(math.log(r) for r in ratios) / len(ratios))


print(f"{'program':16} {'zub s':>8} {'python s':>9} {'lua s':>8} {'zub/py':>7} {'zub/lua':>8}")
to_python, to_lua, failed = [], [], False
for name in names:
    source = os.path.join(here, name)
    z, z_out = median_run([options.zub, source + ".zub"], options.runs)
    p, p_out = median_run([PYTHON, source + ".py"], options.runs)
    l, l_out = median_run([LUA, source + ".lua"], options.runs)
    note = ""
    if not (z_out == p_out == l_out):
        note, failed = f"  results differ: zub {z_out!r} python {p_out!r} lua {l_out!r}", True
    elif p < 0.3:
        note = "  (python3 under 0.3 s: size it up)"
    to_python.append(z / p)
    to_lua.append(z / l)
    print(f"{name:16} {z:8.3f} {p:9.3f} {l:8.3f} {z / p:7.2f} {z / l:8.2f}{note}", flush=True)

print(f"{'geometric mean':16} {'':8} {'':9} {'':8} {geometric_mean(to_python):7.2f} {geometric_mean(to_lua):8.2f}")
sys.exit(1 if failed else 0)
