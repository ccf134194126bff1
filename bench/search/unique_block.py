import random
random.seed(42)
b = [random.randrange(1, 100001) for _ in range(1000000)]
for _ in range(REPEAT):
    list(dict.fromkeys(b))
