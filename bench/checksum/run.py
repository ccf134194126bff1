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
from timing import two_way  # noqa: E402

two_way(here, megabytes=10)
