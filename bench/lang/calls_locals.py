def f(a, b, c):
    x = a + b
    y = x * c % 1000
    return x + y
def main(n):
    s = 0
    for i in range(1, n + 1):
        s = f(i % 100, s % 1000, 3)
    return s
print(main(4000000))
