def main(n):
    m = {}
    for i in range(1, n + 1):
        m["k" + str(i)] = i % 7
    s = 0
    for i in range(1, n + 1):
        s += m["k" + str(i)]
    return s
print(main(1000000))
