# 16 MB of UTF-8 text written whole and read back.
import os, random, tempfile
d = tempfile.mkdtemp(prefix="py-bench-text-")
f = os.path.join(d, "t.txt")
s = "0123456789abcdé\n" * 1000000
with open(f, "w", encoding="utf-8") as out:
    out.write(s)
def main(s):
    for _ in range(REPEAT):
        with open(f, "w", encoding="utf-8") as out:
            out.write(s)
        with open(f, encoding="utf-8", newline="") as src:
            s = src.read()
    return s
s = main(s)
os.remove(f); os.rmdir(d)
print(len(s))
