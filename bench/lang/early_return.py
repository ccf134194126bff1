def f(n):
    if n > 0:
        return n + 1
    return 0
def main(n):
    s = 0
    for i in range(1, n + 1):
        s = f(i) % 1000
    return s
print(main(9000000))
