import random
random.seed(42)
b = [random.randrange(1, 1000000001) for _ in range(1000000)]
for _ in range(REPEAT):
    sorted(b)
