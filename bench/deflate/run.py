#!/usr/bin/python3
"""DEFLATE: compress and decompress about 10 MB of text and of binary data with zlib framing, in
Zub and in python3's zlib module (level 6, what gzip -6 writes), as speed ratios and sizes.

usage: bench/deflate/run.py [path/to/zub-cli]

The data is made here and handed to each program in a file (python3) or a literal (Zub, until
files can be read). Each program repeats the measured work REPEAT times; the driver runs it with
REPEAT = 0 and with a REPEAT large enough to take a measurable time and divides the difference,
so that making the data and starting the process do not count. A ratio below 1 means Zub is faster.
"""
import base64
import os
import random
import subprocess
import sys
import tempfile
import zlib

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import PYTHON, per_run  # noqa: E402
zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")

SIZE = 10_000_000


def text_corpus():
    rng = random.Random(1)
    words = [w.encode() for w in (
        "the of and to in is that it was for on are as with his they at be this from have or by one had "
        "not but what all were when we there can an your which their said if do will each about how up "
        "out them then she many some so these would other into has more her two like him see time could "
        "no make than first been its who now people my made over did down only way find use may water "
        "long little very after words called just where most know get through back much before go good "
        "new write our used me man too any day same right look think also around another came come work "
        "three word must because does part even place well such here take why things help put years "
        "different away again off went old number great tell men say small every found still between "
        "name should home big give air line set own under read last never us left end along while might "
        "next sound below saw something thought both few those always looked show large often together "
        "asked house don't world going want school important until form food keep children feet land side "
        "without boy once animals life enough took sometimes four head above kind began almost live page "
        "got earth need far hand high year mother light parts country father let night following picture "
        "being study second eyes soon times story boys since white days ever paper hard near sentence "
        "better best across during today others sure means knew it's try told young miles sun ways thing "
        "whole hear example heard several change answer room sea against top turned learn point city play "
        "toward five using himself usually").split()]
    out, n = [], 0
    while n < SIZE:
        line = b" ".join(rng.choice(words) for _ in range(rng.randrange(4, 16))) + b".\n"
        out.append(line)
        n += len(line)
    return b"".join(out)[:SIZE]


def binary_corpus():
    # Records of a little structure: counters, small numbers, repeated tags and some noise.
    rng = random.Random(2)
    out = bytearray()
    i = 0
    while len(out) < SIZE:
        out += i.to_bytes(4, "little") + bytes([rng.randrange(16), 0, 0, rng.choice([1, 2, 4, 8])])
        out += rng.choice([b"REC0", b"REC1", b"DATA", b"\x00\x00\x00\x00"]) + rng.randbytes(rng.randrange(0, 6))
        i += 1
    return bytes(out[:SIZE])


def program(folder, name, text):
    path = os.path.join(folder, name)
    with open(path, "w") as f:
        f.write(text)
    return path


print(f"{'work':28} {'zub ms':>9} {'python ms':>10} {'zub/py':>7}")
with tempfile.TemporaryDirectory() as folder:
    for corpus, data in (("text", text_corpus()), ("binary", binary_corpus())):
        raw_path = program(folder, corpus + ".bin", "")
        with open(raw_path, "wb") as f:
            f.write(data)
        literal = "64#{" + base64.b64encode(data).decode() + "}"
        packed = zlib.compress(data, 6)
        packed_literal = "64#{" + base64.b64encode(packed).decode() + "}"
        out = subprocess.run([zub, "-e", "print 1"], capture_output=True)  # the binary runs at all
        out.check_returncode()
        size_path = program(folder, "size.zub", f"print length? compress {literal} 'zlib\n")
        zub_size = int(subprocess.run([zub, size_path], capture_output=True, text=True, check=True).stdout)
        gzip_size = len(subprocess.run(["gzip", "-6", "-c", raw_path], capture_output=True, check=True).stdout)
        works = [
            ("compress", f"d: {literal}\nloop REPEAT [compress d 'zlib]\n",
             f"import zlib\nd = open({raw_path!r}, 'rb').read()\nfor _ in range(REPEAT): zlib.compress(d, 6)\n"),
            ("decompress", f"c: {packed_literal}\nloop REPEAT [decompress c 'zlib]\n",
             f"import zlib\nc = zlib.compress(open({raw_path!r}, 'rb').read(), 6)\n"
             "for _ in range(REPEAT): zlib.decompress(c)\n"),
        ]
        for work, zub_text, py_text in works:
            z = per_run([zub], program(folder, work + ".zub", zub_text), ".zub")
            p = per_run([PYTHON], program(folder, work + ".py", py_text), ".py")
            print(f"{corpus + ' ' + work:28} {z * 1e3:9.1f} {p * 1e3:10.1f} {z / p:7.2f}")
        print(f"{corpus + ' size':28} zub {zub_size:,} bytes, zlib -6 {len(packed):,} "
              f"({zub_size / len(packed):.3f}x), gzip -6 {gzip_size:,} ({zub_size / gzip_size:.3f}x)")
