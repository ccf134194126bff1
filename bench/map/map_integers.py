def main(n):
    m = {}
    for i in range(1, n + 1):
        m[i] = i % 7
    s = 0
    for i in range(1, n + 1):
        s += m[i]
    return s
print(main(3000000))
