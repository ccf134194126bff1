s = "abcdefghij" * 1000000 + "needle"
for _ in range(REPEAT):
    s.find("needle")
