def main(n):
    b = list(range(0, 2000, 2))
    hits = 0
    for i in range(n):
        k = (i * 7) % 2000
        if k in b:
            hits += b.index(k)
    return hits
print(main(130000))
