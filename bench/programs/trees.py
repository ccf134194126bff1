# Allocation: binary trees. Builds complete binary trees of lists and walks them, keeping one
# long-lived tree.
def make_tree(depth):
    return [] if depth == 0 else [make_tree(depth - 1), make_tree(depth - 1)]

def check(tree):
    return 1 if not tree else 1 + check(tree[0]) + check(tree[1])

long_lived = make_tree(16)
total = 0
for depth, iterations in [(4, 256), (6, 64), (8, 16), (10, 4), (12, 1), (14, 1)]:
    for _ in range(iterations):
        total += check(make_tree(depth))
print(total, check(long_lived))
