# Allocation: short-lived blocks. Builds and drops a million small lists.
total = 0
for i in range(1, 1000001):
    b = [i, i + 1, "x", ["nested"]]
    total += len(b)
print(total)
