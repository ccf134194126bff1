s = 0
i = 0
while i < 3000000:
    s = (s + i) % 1000
    i = i + 1
