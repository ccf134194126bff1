#!/usr/bin/python3
"""image: loading and saving a 4000x3000 picture as PNG and as JPEG, in Zub (through the image
codecs) and with the command-line tools of the same libraries (pngtopnm | pnmtopng from netpbm,
djpeg | cjpeg from libjpeg-turbo), each converting the file (the tools write the result to stdout, Zub counts its bytes).

usage: bench/image/run.py [path/to/zub-cli]    (the tools: apt-get install netpbm libjpeg-turbo-progs)

The picture is made once (a PPM written here, turned into PNG and JPEG by the tools). Each side's
time is the best of three runs, start-up included; Zub's start-up is a few milliseconds. A ratio
below 1 means Zub is faster.
"""
import os
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(here, ".."))
from timing import best  # noqa: E402

zub = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "..", "build", "zub-cli")
WIDTH, HEIGHT = 4000, 3000


def picture(path):
    """A PPM of smooth gradients with some texture, so neither format finds it trivial."""
    rows = []
    for y in range(HEIGHT):
        row = bytearray(WIDTH * 3)
        for x in range(0, WIDTH):
            row[3 * x] = (x * 255 // WIDTH + (x * y) % 7) & 0xFF
            row[3 * x + 1] = (y * 255 // HEIGHT) & 0xFF
            row[3 * x + 2] = ((x + y) * 3 + (x ^ y) % 5) & 0xFF
        rows.append(bytes(row))
    with open(path, "wb") as f:
        f.write(b"P6 %d %d 255\n" % (WIDTH, HEIGHT))
        f.writelines(rows)


def shell(command):
    return ["/bin/sh", "-c", command]


with tempfile.TemporaryDirectory() as tmp:
    ppm, png, jpg = (os.path.join(tmp, "picture." + s) for s in ("ppm", "png", "jpg"))
    picture(ppm)
    subprocess.run(shell(f"pnmtopng {ppm} > {png} && cjpeg -quality 90 {ppm} > {jpg}"), check=True)
    print(f"{'format':8} {'zub s':>8} {'tools s':>8} {'zub/tools':>10}")
    for name, path, tools in (("png", png, f"pngtopnm {png} | pnmtopng"), ("jpeg", jpg, f"djpeg {jpg} | cjpeg -quality 90")):
        script = os.path.join(tmp, name + ".zub")
        with open(script, "w") as f:
            f.write(f"c: system/codecs/{name}\nprint length? c/encode c/decode %{path} none\n")
        z = best([zub, script])
        t = best(shell(tools))
        print(f"{name:8} {z:8.3f} {t:8.3f} {z / t:10.2f}")
