def main(n):
    s = 0
    i = 0
    while i < n:
        s += i % 10
        i += 1
    return s
print(main(10000000))
