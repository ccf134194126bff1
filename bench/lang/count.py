#!/usr/bin/python3
"""Instructions per operation, as callgrind counts them: a loop doing the operation N times minus
the same loop empty, divided by N. Stable whatever the load of the machine, where wall times are not.

usage: bench/lang/count.py [--zub path/to/zub-cli] [--n N] [name ...]

Each name is one of OPERATIONS or ROUNDS below; all of them when none is given. Needs valgrind.
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
    "append-block-values": ("b: make block! 16", "append b [1 2]"),
    "append-string-char": ('s: make string! 16', "append s #\"a\""),
    "append-string-text": ('s: make string! 16', 'append s "ab"'),
    "pick-string": ('s: "abcdefghij"', "pick s 3"),
    "pick-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "pick b 3"),
    "insert-block": ("b: make block! 16", "insert tail b i"),
    "copy-part": ('s: "abcdefghij"', "copy/part s 3"),
    "poke-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "poke b 3 i"),
    "poke-string": ('s: "abcdefghij"', 'poke s 3 #"x"'),
    "copy-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "copy b"),
    "length-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "length? b"),
    "tail-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "tail b"),
    "head-block": ("b: next [1 2 3 4 5 6 7 8 9 10]", "head b"),
    "at-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "at b 3"),
    "skip-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "skip b 3"),
    "first-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "first b"),
    "last-string": ('s: "abcdefghij"', "last s"),
    "find-block": ("b: [1 2 3 4 5 6 7 8 9 10]", "find b 3"),
    "select-block": ("b: [a 1 b 2 c 3 d 4]", "select b 'c"),
    "paren": ("", "(i)"),
    "integer-add": ("", "i + 1"),
    "integer-add-paren": ("", "i + (i * 2)"),
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

# name: (set-up, loop), run inside a function; per round: the count of the set-up and the loop
# run n times, less the set-up's alone, divided by n. What the operations above take as their
# empty loop.
ROUNDS = {
    "repeat-round": ("", "repeat i n []"),
    "loop-round": ("", "loop n []"),
    "while-round": ("k: 0", "while [k < n] [k: k + 1]"),
    "until-round": ("k: 0", "until [k: k + 1 k >= n]"),
    "foreach-round": ("b: append/dup make block! n 0 n", "foreach x b []"),
}

ROUNDS_PROGRAM = """main: func [n /local b k x] [
    SETUP
    LOOP
    n
]
print main N
"""

PROGRAM = """main: func [n /local b k x] [
    b: append/dup make block! n 0 n
    LOOP
    n
]
print main N
"""

PROGRAM = """main: func [n /local b s] [
    SETUP
    repeat i n [OPERATION]
    n
]
print main N
"""


def total(zub, setup, operation, n):
    return count(zub, PROGRAM.replace("SETUP", setup).replace("OPERATION", operation).replace("N", str(n)))


def count(zub, program):
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "op.zub")
        with open(source, "w", encoding="utf-8") as f:
            f.write(program)
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
    names = args.names or list(OPERATIONS) + list(ROUNDS)
    for name in names:
        if name not in OPERATIONS and name not in ROUNDS:
            sys.exit(f"unknown operation {name}: one of {', '.join(list(OPERATIONS) + list(ROUNDS))}")
    for name in names:
        if name in ROUNDS:
            setup, loop = ROUNDS[name]
            program = ROUNDS_PROGRAM.replace("SETUP", setup).replace("N", str(args.n))
            per = (count(args.zub, program.replace("LOOP", loop)) - count(args.zub, program.replace("LOOP", ""))) / args.n
            print(f"{name:20} {per:8.0f} instructions")
            continue
        setup, operation = OPERATIONS[name]
        per = (total(args.zub, setup, operation, args.n) - total(args.zub, setup, "", args.n)) / args.n
        print(f"{name:20} {per:8.0f} instructions")


if __name__ == "__main__":
    main()
