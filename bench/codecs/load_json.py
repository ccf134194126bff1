# json.loads of a 20 MB document: an array of records of numbers, text, a list, logic and null.
import json
record = '{"id": 123456, "name": "alpha beta gamma", "score": 12.75, "tags": ["x", "yz", "w"], "ok": true, "note": null}'
text = "[" + ",\n".join([record] * (20000000 // (len(record) + 2))) + ",\n0]"
for _ in range(REPEAT):
    data = json.loads(text)
