def main(n):
    pairs = []
    for i in range(300):
        pairs += ["key" + str(i), "value" + str(i)]
    total = 0
    for i in range(n):
        k = "key" + str((i * 13) % 400)
        if k in pairs:
            total += len(pairs[pairs.index(k) + 1])
    return total
print(main(150000))
