def main(n):
    b = []
    for i in range(n):
        b.append(i % 100)
    s = 0
    for v in b:
        s += v
    return s
print(main(10000000))
