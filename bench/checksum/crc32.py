import zlib
d = bytes.fromhex("0123456789ABCDEF0F1E") * 1000000
for _ in range(REPEAT):
    zlib.crc32(d)
