class O:
    def __init__(self):
        self.x = 0
        self.y = 0
def main(n):
    o = O()
    for i in range(n):
        o.x = o.x + 1
        o.y = (o.y + o.x) % 1000
    return o.x + o.y
print(main(8000000))
