# Matches a list of a million values with the same records in a Python loop.
data = ["name", "some text", 42, 3.5] * 250000
for _ in range(REPEAT):
    n = 0
    i = 0
    ok = True
    while i < len(data):
        if data[i] == "name" and isinstance(data[i + 1], str) and isinstance(data[i + 2], int) \
                and isinstance(data[i + 3], (int, float)):
            s = data[i + 1]
            k = data[i + 2]
            n += 1
            i += 4
        else:
            ok = False
            break
