# Allocation: short-lived strings. Builds and drops half a million strings.
total = 0
for i in range(1, 500001):
    s = "item-" + str(i)
    s = s + s
    total += len(s)
print(total)
