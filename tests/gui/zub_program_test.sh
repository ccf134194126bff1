#!/usr/bin/env bash
# zub as a process: without a display it says so in one line on stderr and runs as zub-cli would;
# `zub --cli` takes that road without looking for a display and says nothing. usage: TEST ZUB
set -uo pipefail
zub=$1
failures=0
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

check() {  # name, expected, actual
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  expected: %q\n  got:      %q\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}

DISPLAY= WAYLAND_DISPLAY= "$zub" -e 'print 1 + 2 print view-platform/display?' >"$out" 2>"$err"
check "no display: status" 0 $?
check "no display: output" $'3\nfalse' "$(cat "$out")"
check "no display: one line on stderr" "zub: no display; running as zub-cli" "$(cat "$err")"

DISPLAY= WAYLAND_DISPLAY= "$zub" -e 'cause-an-error-here' >"$out" 2>"$err"
check "no display: an error's status" 254 $?

DISPLAY=:nothing-here "$zub" --cli -e 'print view-platform/display?' >"$out" 2>"$err"
check "--cli: status" 0 $?
check "--cli: output" "false" "$(cat "$out")"
check "--cli: nothing on stderr" "" "$(cat "$err")"

script=$(mktemp --suffix=.zub)
printf 'Zub []\nprint system/options/args\n' >"$script"
DISPLAY= "$zub" --cli "$script" a b >"$out" 2>"$err"
check "--cli script: arguments as zub-cli gives them" "a b" "$(cat "$out")"
rm -f "$script"

"$zub" --cli --test /nonexistent-file.zub >"$out" 2>&1
[ $? -ne 0 ] || { echo "FAIL --cli --test of a missing file succeeded"; failures=$((failures + 1)); }

[ $failures -eq 0 ] && echo "zub program: all cases passed"
exit $((failures > 0))
