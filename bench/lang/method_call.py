class Counter:
    def __init__(self):
        self.n = 0
    def add(self, k):
        self.n = (self.n + k) % 99991
def main(n):
    c = Counter()
    for i in range(n):
        c.add(i % 10)
    return c.n
print(main(7000000))
