# Allocation: a long-lived structure under churn.
table = []
for i in range(1, 200001):
    table.append([i, "name-" + str(i)])
total = 0
for i in range(1, 1000001):
    tmp = [i, "temporary"[:]]
    total += len(tmp)
s = 0
for entry in table:
    s += len(entry[1])
print(total, s, len(table))
