#!/usr/bin/python3
"""map! speed: three million integer keys, then a million string keys, put into a map! and looked up
again, against a python3 dict and a Lua table.

usage: bench/map/run.py [--runs N] [--zub path/to/zub-cli] [program ...]

The peers are named by absolute path (a PATH lookup may find a slower build or a start-up shim).
Every program prints one result, and the three results must agree. Each is sized so that python3
takes at least 0.3 s, and does its work inside functions, as a python programmer writes it. The
median of N runs counts for each (default 5); the last line gives the geometric means. A ratio
below 1 means Zub is faster.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import three_way  # noqa: E402

three_way(here)
