#!/usr/bin/python3
"""codecs: load-json, to-json, load-csv and to-csv of 20 MB documents against python3's json and csv
modules, in MB/s of the 20 MB text and as ratios of times (below 1: Zub is faster).

usage: bench/codecs/run.py [path/to/zub-cli] [program ...]

Each program builds its data, then repeats the measured work REPEAT times; the driver subtracts a run
with REPEAT = 0, so building the data and starting the process do not count (see bench/timing.py).
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import two_way  # noqa: E402

two_way(here, megabytes=20.0)
