def f(n):
    return n + 1 if n > 0 else 0
for i in range(1, 2000001):
    f(i)
