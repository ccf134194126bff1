# A folder of 2,000 files listed, sorted by name.
import os, tempfile
d = tempfile.mkdtemp(prefix="py-bench-dir-")
for i in range(1, 2001):
    open(os.path.join(d, f"{i}.txt"), "w").close()
def main():
    n = 0
    for _ in range(REPEAT):
        n = len(sorted(e.name + "/" if e.is_dir() else e.name for e in os.scandir(d)))
    return n
n = main()
for name in os.listdir(d):
    os.remove(os.path.join(d, name))
os.rmdir(d)
print(n)
