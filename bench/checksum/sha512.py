import hashlib
d = bytes.fromhex("0123456789ABCDEF0F1E") * 1000000
for _ in range(REPEAT):
    hashlib.sha512(d).digest()
