#!/usr/bin/env bash
# The environment decoded from the start-up data is the one loaded from the text: the same global
# words with the same values molded. Damaged start-up data ends the process with a message and a
# non-zero status, never a crash or a half-built environment.
# usage: startup_data_test.sh path/to/zub-env-dump
set -u
dump=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/../lib/check.sh"

"$dump" >"$work/data.txt" 2>&1
check "start-up from the data succeeds" 0 $?
ZUB_BOOT_TEXT=1 "$dump" >"$work/text.txt" 2>&1
check "start-up from the text succeeds" 0 $?
words=$(wc -l <"$work/text.txt")
[ "$words" -gt 300 ]
check "the environment has its words" 0 $?
# Compared line by line, sorted: the data brings every file's words into the global context before
# the first file runs, the text one file at a time, so system/words lists the same words in
# another order.
sort "$work/data.txt" >"$work/data.sorted"
sort "$work/text.txt" >"$work/text.sorted"
cmp -s "$work/data.sorted" "$work/text.sorted"
check "the data and the text give the same environment" 0 $?
diff "$work/data.sorted" "$work/text.sorted" | head -20

printf 'ZUBBIX\x02\x05\x01\x01\x80' >"$work/magic"
out=$("$dump" "$work/magic" 2>&1); status=$?
check "data without the magic stops start-up" 1 $status
check "and says why" "Error: Not a Zubbin file!" "$(printf '%s' "$out" | head -1)"

printf 'ZUBBIN\x02\x03\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00' >"$work/packed"
out=$("$dump" "$work/packed" 2>&1); status=$?
check "damaged compressed data stops start-up" 1 $status
check "damaged compressed data says why" "Error: Zubbin start-up data corrupted!" "$(printf '%s' "$out" | head -1)"

# A block that claims five cells and holds one: the count (byte 12) is at fault.
printf 'ZUBBIN\x02\x01\x01\x03\x05\x05\x80' >"$work/short"
out=$("$dump" "$work/short" 2>&1); status=$?
check "a truncated record stops start-up" 1 $status
check "and names the offset" "*** Script Error: ZUBBIN - invalid record at index 12" "$(printf '%s' "$out" | sed -n 2p)"

# One value that is not a block of blocks.
printf 'ZUBBIN\x02\x01\x01\x01\x85' >"$work/integer"
"$dump" "$work/integer" >/dev/null 2>&1
check "data of another shape stops start-up" 1 $?

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
