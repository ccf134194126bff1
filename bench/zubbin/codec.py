"""The same data as codec.zub through pickle and marshal: the first dumps and loads, then the best
of three after a collection, in seconds."""
import gc, marshal, pickle, time

data = [[i, i * 1.5, "str-" + str(i), "word", [i, i], "a", (1, 2), None, True, (1, 2, 3)] for i in range(1, 100001)]


def time_of(f):
    t = time.perf_counter()
    f()
    return time.perf_counter() - t


def best(f):
    least = 1e9
    for _ in range(3):
        gc.collect()
        least = min(least, time_of(f))
    return least


for name, mod in (("pickle", pickle), ("marshal", marshal)):
    b = mod.dumps(data)
    first_dump, first_load = time_of(lambda: mod.dumps(data)), time_of(lambda: mod.loads(b))
    print(name, len(b), first_dump, first_load, best(lambda: mod.dumps(data)), best(lambda: mod.loads(b)))
