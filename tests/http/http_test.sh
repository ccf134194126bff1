#!/usr/bin/env bash
# Runs tests/lang-style cases against the local server of server.py: it starts the server on a free
# port, hands the base url to the test file through ZUB_TEST_HTTP, and stops the server after.
# usage: http_test.sh path/to/zub-cli
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
python3 "$here/server.py" "$work/port" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "the test server did not start"; exit 1; }
ZUB_TEST_HTTP="http://127.0.0.1:$(cat "$work/port")" "$1" --test "$here/http.zub"
