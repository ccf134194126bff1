import hmac
d = bytes.fromhex("0123456789ABCDEF0F1E") * 1000000
for _ in range(REPEAT):
    hmac.new(b"a key", d, "sha256").digest()
