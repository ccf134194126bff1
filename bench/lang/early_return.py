def f(n):
    if n > 0:
        return n + 1
    return 0
for i in range(1, 2000001):
    f(i)
