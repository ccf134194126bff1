# 16 MB of bytes written whole and read back.
import os, tempfile
d = tempfile.mkdtemp(prefix="py-bench-bin-")
f = os.path.join(d, "b.bin")
b = b"0123456789abcdef" * 1000000
with open(f, "wb") as out:
    out.write(b)
def main(b):
    for _ in range(REPEAT):
        with open(f, "wb") as out:
            out.write(b)
        with open(f, "rb") as src:
            b = src.read()
    return b
b = main(b)
os.remove(f); os.rmdir(d)
print(len(b))
