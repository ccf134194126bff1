# A file of 200,000 lines read as a list of lines.
import os, tempfile
d = tempfile.mkdtemp(prefix="py-bench-lines-")
f = os.path.join(d, "l.txt")
with open(f, "w") as out:
    out.write("a line of some text\n" * 200000)
def main():
    n = 0
    for _ in range(REPEAT):
        with open(f, encoding="utf-8") as src:
            n = len(src.read().splitlines())
    return n
n = main()
os.remove(f); os.rmdir(d)
print(n)
