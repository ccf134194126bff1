#!/usr/bin/env bash
# A preprocessor error in a program without a console: the message on stdout, nothing after it
# runs, and the process ends with status 1, never with the status of a normal end.
# usage: exit_test.sh path/to/zub-cli
set -u
zub=$1

. "$(dirname "$0")/../lib/check.sh"

# name | code | expected stdout; every case ends with status 1
while IFS='|' read -r name code expected; do
    [ -z "$name" ] && continue
    out=$("$zub" -e "$code" 2>&1); status=$?
    check "$name: status" 1 $status
    check "$name: output" "$(printf "$expected")" "$out"
done <<'CASES'
a syntax error|expand-directives [#either true [1]] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #either true [1]
a missing block|expand-directives [a #if true] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #if true
a bad #trace|expand-directives [#trace maybe] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #trace maybe
a bad #process|expand-directives [#process 1] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #process 1
a bad macro spec|expand-directives [#macro 'm func [s] [1]] print "after"|*** Macro Error: invalid specification\n*** Where: ['m func [s]]
a macro with no value|expand-directives [#macro m: func [] [] m] print "after"|*** Macro Error: no value returned by m macro\n
an unknown refinement|expand-directives [#if append/nope [] 1 [x]] print "after"|*** Macro Error: unknown refinement\n*** Where: append/nope
try does not catch it|try [expand-directives [#either true [1]]] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #either true [1]
through do/expand|do/expand [#case 1] print "after"|*** Preprocessor Error: Syntax error\n*** Where: #case 1
CASES

# Errors raised by directive code: the command, then the formed error.
out=$("$zub" -e 'expand-directives [#if 1 / 0 [x]] print "after"' 2>&1); status=$?
check "an error in #if: status" 1 $status
check "an error in #if: the command" "*** Preprocessor Error in #if " "$(head -1 <<<"$out")"
check "an error in #if: the error" "*** Math Error: attempt to divide by zero" "$(sed -n 2p <<<"$out")"
check "an error in #if: nothing after" "" "$(grep after <<<"$out")"
out=$("$zub" -e 'expand-directives [#macro m: func [] [do make error! "boom"] m]' 2>&1); status=$?
check "an error in a macro: status" 1 $status
check "an error in a macro: the command" "*** Preprocessor Error in #macro " "$(head -1 <<<"$out")"
check "an error in a macro: the error" "*** User Error: boom" "$(sed -n 2p <<<"$out")"

# A clean expansion ends normally.
check "no error: the expansion" "[1 3]" "$("$zub" -e 'probe expand-directives [#if true [1] #do keep [1 + 2]]')"
"$zub" -e 'expand-directives [#if true [1]]' >/dev/null 2>&1; check "no error: status" 0 $?

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
