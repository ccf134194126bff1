import random
random.seed(42)
s = "".join(chr(19967 + random.randrange(1, 3001)) for _ in range(1000000))
for _ in range(REPEAT):
    "".join(dict.fromkeys(s))
