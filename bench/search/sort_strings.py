import random
random.seed(42)
b = [str(random.randrange(1, 1000000001)) for _ in range(100000)]
for _ in range(REPEAT):
    sorted(b)
