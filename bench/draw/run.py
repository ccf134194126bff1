#!/usr/bin/python3
"""Drawing 10,000 lines, boxes or shapes on a 1000x1000 image: each program of this folder in Zub
(draw) and in python3 with pycairo (python3-cairo), as a ratio of the time per round.

usage: bench/draw/run.py [path/to/zub] [program ...]

Each program builds its commands, then draws them REPEAT times; the driver divides the difference
between REPEAT = 0 and a REPEAT that takes a measurable time, so building the commands and starting
the process do not count. A round of Zub also moves the image's pixels into Cairo and back. A ratio
below 1 means Zub is faster.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import two_way  # noqa: E402

if len(sys.argv) < 2:
    sys.argv.append(os.path.join(here, "..", "..", "build", "zub"))
two_way(here)
