#!/usr/bin/env python3
"""DEFLATE, zlib and gzip interop with python3's zlib and gzip modules as the reference.

Each corpus goes both ways: what zub-cli compresses python3 must decompress to the same bytes,
and what python3 compresses (every level, raw, zlib and gzip with header fields) zub-cli must
decompress to the same bytes. Cut and corrupted streams must give an error in zub-cli.
Usage: interop.py path/to/zub-cli
"""
import base64
import gzip
import io
import os
import random
import subprocess
import sys
import tempfile
import zlib

ZUB = sys.argv[1]


def corpora():
    rng = random.Random(20261211)
    words = [b"the", b"quick", b"brown", b"fox", b"jumps", b"over", b"lazy", b"dog", b"zub", b"deflate",
             b"block", b"series", b"value", b"\n"]
    text = b" ".join(rng.choice(words) for _ in range(40000))
    binary = bytes(rng.choice([0, 0, 0, 1, 2, 255, rng.randrange(256)]) for _ in range(120000))
    noise = rng.randbytes(70000)  # more than one stored piece
    big = b"".join(b"line %d: %s\n" % (i, rng.choice(words) * (i % 7)) for i in range(400000))[:10_000_000]
    return [("empty", b""), ("one byte", b"A"), ("two bytes", b"\x00\xff"), ("text", text), ("binary", binary),
            ("incompressible", noise), ("runs", b"a" * 100000 + b"b" * 3 + b"a" * 300), ("10 MB", big)]


def lit(data):
    return "64#{" + base64.b64encode(data).decode() + "}"


def run_zub(script):
    with tempfile.NamedTemporaryFile("w", suffix=".zub", delete=False) as f:
        f.write(script)
        path = f.name
    try:
        out = subprocess.run([ZUB, path], capture_output=True, timeout=600)
    finally:
        os.unlink(path)
    if out.returncode != 0:
        raise SystemExit("zub-cli failed: " + out.stderr.decode(errors="replace")[:2000])
    return out.stdout.decode().split("\n")


def gzip_with_fields(data):
    buf = io.BytesIO()
    with gzip.GzipFile(filename="name.txt", mode="wb", fileobj=buf, mtime=1234567) as f:
        f.write(data)
    return buf.getvalue()


def raw(data, level):
    c = zlib.compressobj(level, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


for name, data in corpora():
    # Zub compresses, python3 decompresses.
    lines = run_zub("data: %s\nforeach m [zlib deflate gzip] [print enbase compress data m]\n" % lit(data))
    zlib_out, raw_out, gzip_out = (base64.b64decode(line) for line in lines[:3])
    check(zlib.decompress(zlib_out) == data, name + ": zlib from zub")
    check(zlib.decompress(raw_out, -15) == data, name + ": raw deflate from zub")
    check(gzip.decompress(gzip_out) == data, name + ": gzip from zub")
    if len(data) > 1000 and name != "incompressible":
        check(len(zlib_out) <= len(zlib.compress(data, 6)) * 1.1, name + ": ratio near zlib's level 6")
    if name == "incompressible":
        # Stored blocks: five bytes of header for each block of 16,384 literals.
        check(len(raw_out) <= len(data) + 5 * (len(data) // 16384 + 2), name + ": stored, not grown")

    # python3 compresses, Zub decompresses; each stream also cut short and with a byte flipped.
    streams = [("zlib", zlib.compress(data, level)) for level in (0, 1, 6, 9)]
    streams += [("deflate", raw(data, level)) for level in (0, 1, 9)]
    streams += [("gzip", gzip.compress(data)), ("gzip", gzip_with_fields(data))]
    script = ["data: " + lit(data)]
    expected = []
    for method, stream in streams:
        script.append("print equal? data decompress %s '%s" % (lit(stream), method))
        expected.append("true")
        if method != "deflate" and len(data) < 200000:
            # A cut anywhere loses the trailer or the stream's end; a flipped byte in the body
            # breaks the stream or its checksum.
            for cut in sorted({1, len(stream) // 2, len(stream) - 1}):
                script.append("print error? try [decompress %s '%s]" % (lit(stream[:cut]), method))
                expected.append("true")
            # A flipped bit may land where it changes nothing (padding, an unchecked stored
            # length, a distance into a run, the file name): then the same data is right too.
            flipped = bytearray(stream)
            flipped[len(stream) // 2] ^= 0x10
            script.append("print either error? r: try [decompress %s '%s] ['error] [either r = data ['same] ['wrong]]"
                          % (lit(bytes(flipped)), method))
            expected.append(("error", "same"))
    lines = run_zub("\n".join(script) + "\n")
    for i, want in enumerate(expected):
        check(lines[i] in want if isinstance(want, tuple) else lines[i] == want,
              "%s: from python3, case %d gave %r" % (name, i, lines[i]))

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("interop: all cases agree")
