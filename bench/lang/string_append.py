def main():
    s = ""
    for i in range(2000000):
        s += "ab"
main()
