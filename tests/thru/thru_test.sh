#!/usr/bin/env bash
# Runs thru.zub against a local server of the files in a temporary folder: it starts server.py on a
# free port, hands the base url and the served folder to the test file through ZUB_TEST_HTTP and
# ZUB_TEST_WWW, gives it a temporary HOME for the cache, and stops the server after.
# usage: thru_test.sh path/to/zub-cli
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mkdir -p "$work/www" "$work/home"
python3 "$here/server.py" "$work/port" "$work/www" &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
[ -s "$work/port" ] || { echo "the test server did not start"; exit 1; }
HOME="$work/home" ZUB_TEST_WWW="$work/www/" ZUB_TEST_HTTP="http://127.0.0.1:$(cat "$work/port")" \
    "$1" --test "$here/thru.zub"
