#!/usr/bin/env python3
"""Runs each program of this folder in Zub, python3 and lua5.4 and prints time ratios.

usage: bench/lang/run.py [path/to/zub-cli] [program ...]
The best of three runs counts for each. A ratio below 1 means Zub is faster.
"""
import os, subprocess, sys, time, shutil

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import best  # noqa: E402
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")
names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))

lua = shutil.which("lua5.4")
print(f"{'program':16} {'zub s':>8} {'python s':>9} {'lua s':>8} {'zub/py':>7} {'zub/lua':>8}")
results = {}
for name in names:
    z = best([zub, os.path.join(here, name + ".zub")])
    p = best([sys.executable, os.path.join(here, name + ".py")])
    l = best([lua, os.path.join(here, name + ".lua")]) if lua else float("nan")
    results[name] = z
    print(f"{name:16} {z:8.3f} {p:9.3f} {l:8.3f} {z / p:7.2f} {z / l:8.2f}")
if "early_return" in results and "plain_return" in results:
    print(f"return inside if costs {results['early_return'] / results['plain_return']:.2f}x the same function without it")
