#!/usr/bin/python3
"""Sorting, searching and set operations: each program of this folder in Zub and in python3.

usage: bench/search/run.py [path/to/zub-cli] [program ...]

Each program builds its data, then repeats the measured work REPEAT times. The driver runs it with
REPEAT = 0 and with a REPEAT large enough to take a measurable time, and divides the difference:
building the data (a loop in the interpreter) and starting the process do not count. The best of
three runs counts for each. A ratio below 1 means Zub is faster.
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import two_way  # noqa: E402

two_way(here)
