import re
s = "abcdefghij" * 1000000 + "NeEdLe"
for _ in range(REPEAT):
    re.search("needle", s, re.IGNORECASE)
