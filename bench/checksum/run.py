#!/usr/bin/python3
"""Checksums and digests of 10 MB: each program of this folder in Zub and in python3 (zlib's
crc32 and adler32, hashlib, hmac), as a ratio of the time per pass.

usage: bench/checksum/run.py [path/to/zub-cli] [program ...]

Each program builds its data, then checksums it REPEAT times; the driver divides the difference
between REPEAT = 0 and a REPEAT that takes a measurable time, so building the data and starting the
process do not count. A ratio below 1 means Zub is faster.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import PYTHON, per_run  # noqa: E402
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")
names = sys.argv[2:] or sorted(f[:-4] for f in os.listdir(here) if f.endswith(".zub"))

print(f"{'program':12} {'zub MB/s':>9} {'python MB/s':>12} {'zub/py':>7}")
for name in names:
    z = per_run([zub], os.path.join(here, name + ".zub"), ".zub")
    p = per_run([PYTHON], os.path.join(here, name + ".py"), ".py")
    print(f"{name:12} {10 / z:9.0f} {10 / p:12.0f} {z / p:7.2f}", flush=True)
