# json.dumps of the 20 MB document of load_json, decoded once beforehand (compact separators, as
# to-json writes).
import json
record = '{"id": 123456, "name": "alpha beta gamma", "score": 12.75, "tags": ["x", "yz", "w"], "ok": true, "note": null}'
text = "[" + ",\n".join([record] * (20000000 // (len(record) + 2))) + ",\n0]"
data = json.loads(text)
for _ in range(REPEAT):
    out = json.dumps(data, separators=(",", ":"), ensure_ascii=False)
