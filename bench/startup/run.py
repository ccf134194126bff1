#!/usr/bin/python3
"""Start-up time: `zub-cli -e quit` against `python3 -c pass` and `lua5.4 -e ""`, as ratios.

usage: bench/startup/run.py [path/to/zub-cli]
The best of twenty runs counts for each. A ratio below 1 means Zub starts faster.
"""
import os, sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import best  # noqa: E402
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")

z = best([zub, "-e", "quit"], 20)
p = best(["/usr/bin/python3", "-c", "pass"], 20)
lua = "/usr/bin/lua5.4"
l = best([lua, "-e", ""], 20)
print(f"zub-cli {z * 1000:.1f} ms, python3 {p * 1000:.1f} ms, lua5.4 {l * 1000:.1f} ms")
print(f"zub/python {z / p:.2f}, zub/lua {z / l:.2f}")
