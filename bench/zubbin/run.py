#!/usr/bin/python3
"""ZUBBIN encode and decode of a nested block of 1M mixed values against python3's pickle and
marshal of the same data, as ratios (below 1: Zub is faster): the first run in each process, whose
allocations grow the heap, and the best of three after a collection.

usage: bench/zubbin/run.py [path/to/zub-cli]
"""
import os, subprocess, sys

here = os.path.dirname(os.path.abspath(__file__))
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")


def rows(cmd):
    out = subprocess.run(cmd, check=True, capture_output=True, text=True).stdout
    return {w[0]: [int(w[1])] + [float(x) for x in w[2:6]] for w in (line.split() for line in out.splitlines())}


z = rows([zub, os.path.join(here, "codec.zub")])
p = rows(["/usr/bin/python3", os.path.join(here, "codec.py")])
for name, (size, enc, dec, best_enc, best_dec) in {**z, **p}.items():
    print(f"{name:8} {size:>9} bytes  first: encode {enc * 1000:7.1f} ms, decode {dec * 1000:7.1f} ms;"
          f"  best: encode {best_enc * 1000:7.1f} ms, decode {best_dec * 1000:7.1f} ms")
for form in ("compact", "classic"):
    for peer in ("pickle", "marshal"):
        r = [z[form][k] / p[peer][k] for k in range(1, 5)]
        print(f"{form}/{peer}: first encode {r[0]:.2f}, decode {r[1]:.2f}; best encode {r[2]:.2f}, decode {r[3]:.2f}")
