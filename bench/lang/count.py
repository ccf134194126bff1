#!/usr/bin/python3
"""Instructions per operation, as callgrind counts them: a loop doing the operation N times minus
the same loop empty, divided by N. Stable whatever the load of the machine, where wall times are not.

usage: bench/lang/count.py [--zub path/to/zub-cli] [--n N] [name ...]

Each name is one of OPERATIONS below; all of them when none is given. Needs valgrind.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))

# name: (set-up, operation); both run inside a function, the operation once per turn of `repeat i n`.
OPERATIONS = {
    "append-block": ("b: make block! 16", "append b i"),
    "append-string-char": ('s: make string! 16', "append s #\"a\""),
    "append-string-text": ('s: make string! 16', 'append s "ab"'),
    "pick-string": ('s: "abcdefghij"', "pick s 3"),
    "pick-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "pick b 3"),
    "insert-block": ("b: make block! 16", "insert tail b i"),
    "copy-part": ('s: "abcdefghij"', "copy/part s 3"),
    "paren": ("", "(i)"),
    "integer-add": ("", "i + 1"),
    "if": ("", "if i > 0 [i]"),
    "either": ("", "either i > 0 [i] [0]"),
    "unless": ("", "unless i < 0 [i]"),
    "any": ("", "any [i < 0 i]"),
    "all": ("", "all [i > 0 i]"),
    "native-2": ("", "min i 3"),
    "call-1": ("f: func [x] [x]", "f i"),
    "call-return": ("f: func [x] [return x]", "f i"),
    "call-3-locals": ("f: func [a b c /local x] [x: a]", "f i 2 3"),
    "path-read": ("o: make object! [x: 1]", "o/x"),
    "path-write": ("o: make object! [x: 1]", "o/x: i"),
    "method": ("o: make object! [f: func [k] [k]]", "o/f i"),
    "set-word": ("", "s: i"),
}

PROGRAM = """main: func [n /local b s] [
    SETUP
    repeat i n [OPERATION]
    n
]
print main N
"""


def total(zub, setup, operation, n):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "op.zub")
        with open(source, "w", encoding="utf-8") as f:
            f.write(PROGRAM.replace("SETUP", setup).replace("OPERATION", operation).replace("N", str(n)))
        out = os.path.join(folder, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}", zub, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        report = subprocess.run(["callgrind_annotate", out], check=True, stdout=subprocess.PIPE, text=True).stdout
    return int(re.search(r"([\d,]+)\s+\(100.0%\)\s+PROGRAM TOTALS", report).group(1).replace(",", ""))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zub", default=os.path.join(here, "..", "..", "build", "zub-cli"))
    parser.add_argument("--n", type=int, default=200000)
    parser.add_argument("names", nargs="*")
    args = parser.parse_args()
    names = args.names or list(OPERATIONS)
    for name in names:
        if name not in OPERATIONS:
            sys.exit(f"unknown operation {name}: one of {', '.join(OPERATIONS)}")
    for name in names:
        setup, operation = OPERATIONS[name]
        per = (total(args.zub, setup, operation, args.n) - total(args.zub, setup, "", args.n)) / args.n
        print(f"{name:20} {per:8.0f} instructions")


if __name__ == "__main__":
    main()
