def main(n):
    letters = "abcdefghij"
    s = ""
    for i in range(n):
        s += letters[i % 10]
    return len(s)
print(main(10000000))
