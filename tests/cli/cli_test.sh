#!/usr/bin/env bash
# zub-cli as a process: exit statuses, what reaches stdout and stderr, scripts and their headers.
# usage: cli_test.sh path/to/zub-cli
set -u
zub=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/../lib/check.sh"

"$zub" -e 'quit' >/dev/null 2>&1;                 check "quit exits 0" 0 $?
"$zub" -e 'quit/return 7' >/dev/null 2>&1;        check "quit/return gives the status" 7 $?
"$zub" -e 'quit/return 255' >/dev/null 2>&1;      check "quit/return 255 is the highest status" 255 $?
check "quit/return of a status no byte holds is an error" "*** Script Error: value out of range: 256" \
    "$("$zub" -e 'quit/return 256' 2>&1 | head -1)"
"$zub" -e 'quit/return -1' >/dev/null 2>&1;       check "quit/return -1 ends as an uncaught error" 254 $?

# A folder is no script and no test file: it is refused, never run as nothing.
check "a folder as the script is refused" "zub-cli: cannot read $work: Is a directory" "$("$zub" "$work" 2>&1)"
"$zub" "$work" >/dev/null 2>&1;                   check "a folder as the script exits 1" 1 $?
"$zub" --test "$work" >/dev/null 2>&1;            check "a folder as the test file exits 1" 1 $?
"$zub" -e '1 + 1' >/dev/null 2>&1;                check "the end of the code exits 0" 0 $?
"$zub" -e '1 / 0' >/dev/null 2>&1;                check "an uncaught error exits 254" 254 $?
"$zub" -e '[1 2' >/dev/null 2>&1;                 check "a syntax error exits 254" 254 $?
check "the error goes to stderr" "*** Math Error: attempt to divide by zero" "$("$zub" -e '1 / 0' 2>&1 >/dev/null | head -1)"
check "nothing goes to stdout after an error" "" "$("$zub" -e '1 / 0' 2>/dev/null)"
# An error whose argument is a pair forms it in its message and ends with 254.
"$zub" -e 'at [1 2] as-pair 1 2' >/dev/null 2>&1; check "an error with a pair argument exits 254" 254 $?
check "an error forms its pair argument" "*** Script Error: invalid argument: 1x2" \
    "$("$zub" -e 'at [1 2] as-pair 1 2' 2>&1 >/dev/null | head -1)"

check "print writes UTF-8" "$(printf 'h\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80')" "$("$zub" -e 'print "hé € 😀"')"
check "prin writes no new line" "ab" "$("$zub" -e 'prin "a" prin "b"')"
check "print forms a block" "1 two 3" "$("$zub" -e 'print [1 "two" 1 + 2]')"

printf 'Zub [Title: "t"]\nprint "from a script"\nquit/return 3\n' >"$work/s.zub"
out=$("$zub" "$work/s.zub"); status=$?
check "a script runs after its header" "from a script" "$out"
check "a script's quit status" 3 $status
printf 'print "no header"\n' >"$work/n.zub"
check "a script without a header runs too" "no header" "$("$zub" "$work/n.zub")"

# The command line reaches system/options straight from the arguments: one string each, spaces and
# quotes kept; script/args joins them again, each quoted as a shell would read it back. The console
# takes the script's name off both: the script sees its own arguments.
printf 'probe system/options/args\nprint system/script/args\nprint system/options/boot\n' >"$work/a.zub"
check "arguments reach system/options/args whole" "$(printf '["a b" {c"d} "" "it\x27s"]\n%s %s %s %s\n%s' \
    "'a b'" "'c\"d'" "''" "'it'\\''s'" "$zub")" \
    "$("$zub" "$work/a.zub" "a b" 'c"d' "" "it's")"
code='prin find/tail system/script/args " "'
check "a shell reads script/args back as the arguments" "$(printf '%s|' "$code" "$work/a.zub" "a b" 'c"d' "" "it's")" \
    "$(eval "printf '%s|' $("$zub" -e "$code" "$work/a.zub" "a b" 'c"d' "" "it's")")"
check "without arguments args is empty" "$(printf '>> == []\n>> == ""')" \
    "$(printf 'system/options/args\nsystem/script/args\n' | "$zub" | sed -n '4,5p')"

# Started in a directory that was removed, the program runs with no path rather than not at all.
mkdir "$work/gone"
check "a removed current directory leaves options/path none" "none" \
    "$(cd "$work/gone" && rmdir "$work/gone" && "$zub" -e 'prin system/options/path' 2>&1)"

# create-dir makes a directory that exists? then sees; a second time it cannot.
check "create-dir and exists?" "true" "$("$zub" -e "create-dir %$work/made/ prin exists? %$work/made/")"
check "create-dir of an existing directory fails" "*** Access Error: cannot create: %$work/made/" \
    "$("$zub" -e "create-dir %$work/made/" 2>&1 | head -1)"
# stats/show prints the memory report through the library's printer.
check "stats/show prints the report" "[ Nodes  ] -- Free ----- Used ----- Total --" "$("$zub" -e 'stats/show' | sed -n 2p)"
"$zub" "$work/missing.zub" >/dev/null 2>&1;        check "a missing script is refused" 1 $?

# The loop is the console's: its banner, then the prompt before each line read.
check "the loop prints results" "$(printf -- '--== Zub 0.6.6 ==-- \nType HELP for starting information. \n\n>> == 3\n>> == [1 2]\n>> \n>> ')" \
    "$(printf '1 + 2\n[1 2]\nprint ""\n' | "$zub")"
check "the loop goes on after an error" ">> == 2" "$(printf '1 / 0\n1 + 1\n' | "$zub" | tail -2 | head -1)"

# Reports are whole: control characters and lone surrogates show escaped, and Where and Near stay.
check "a NUL in a message is escaped" "$(printf '*** User Error: a^@b^/c^(D800)\n*** Where: do\n*** Near : do make error! "a^@b^/c^(D800)"\n*** Stack: ')" \
    "$("$zub" -e 'do make error! {a^(0)b^/c^(D800)}' 2>&1)"
check "the loop escapes a NUL too" ">> *** User Error: a^@b" "$(printf 'do make error! "a^(0)b"\n' | "$zub" 2>&1 | sed -n 4p)"
check "an error that holds itself keeps Where and Near" "$(printf '*** User Error: ...\n*** Where: do\n*** Near : e: make error! "x" e/arg1: e do e\n*** Stack: ')" \
    "$("$zub" -e 'e: make error! "x" e/arg1: e do e' 2>&1)"
check "a lone surrogate prints as U+FFFD" "$(printf 'a\xef\xbf\xbdb')" "$("$zub" -e 'prin "a" prin to char! 55296 print "b"' 2>&1)"

# The test runner: a case that does not give its expectation is a failure reported with its line.
printf '1 + 1 ;== 2\n1 + 1 ;== 3\n[1 2] ;!! script no-value\n' >"$work/t.zub"
out=$("$zub" --test "$work/t.zub"); status=$?
check "a failing test file exits 1" 1 $status
check "a wrong value is reported at its line" "$work/t.zub:2: 1 + 1" "$(grep -m1 ':2:' <<<"$out")"
check "a missing error is reported at its line" "$work/t.zub:3: [1 2]" "$(grep -m1 ':3:' <<<"$out")"
check "the summary counts the cases" "$work/t.zub: 3 cases, 2 failed" "$(tail -1 <<<"$out")"
printf 'reduce [\n    1 + 1\n]\n;== [3]\n\n1 ;== 1\n' >"$work/m.zub"
out=$("$zub" --test "$work/m.zub")
check "a case of several lines is reported at its expectation" "$work/m.zub:4: (from line 1) reduce [ 1 + 1 ]" \
    "$(head -1 <<<"$out")"
check "the cases after it still run" "$work/m.zub: 2 cases, 1 failed" "$(tail -1 <<<"$out")"
printf ';== 1\nx: 1\n;== 1\n[1\n' >"$work/o.zub"
out=$("$zub" --test "$work/o.zub")
check "an expectation with nothing before it fails" "$work/o.zub:1: " "$(head -1 <<<"$out")"
check "an expression open at the end fails" "$work/o.zub:4: [1" "$(grep -m1 ':4:' <<<"$out")"
check "both are counted" "$work/o.zub: 3 cases, 2 failed" "$(tail -1 <<<"$out")"
printf '1 / 0\n1 ;== 1\n' >"$work/s.zub"
check "set-up that raises fails" "$work/s.zub:1: 1 / 0" "$(head -1 <<<"$("$zub" --test "$work/s.zub")")"
"$zub" --test "$work/missing.zub" >/dev/null 2>&1; check "a missing test file fails" 1 $?

# Output that cannot be written ends the program with a message and status 1, never a silent 0.
for code in 'print 1' 'prin 1' 'print "x" print "y"' 'write-stdout "x"'; do
    "$zub" -e "$code" >/dev/full 2>"$work/err"; status=$?
    check "$code to a full disk exits 1" 1 $status
    check "$code to a full disk says so" "*** cannot write to standard output: No space left on device" "$(cat "$work/err")"
    "$zub" -e "$code" >&- 2>"$work/err"; status=$?
    check "$code to a closed stdout exits 1" 1 $status
    check "$code to a closed stdout says so" "*** cannot write to standard output: Bad file descriptor" "$(cat "$work/err")"
done
"$zub" -e "1 + 1" >/dev/full 2>/dev/null;          check "no output, nothing to lose" 0 $?
printf '1 + 2\n' | "$zub" >/dev/full 2>/dev/null;  check "the loop's results to a full disk exit 1" 1 $?
printf '1 ;== 1\n' >"$work/p.zub"
"$zub" --test "$work/p.zub" >/dev/null 2>&1;      check "a passing test file exits 0" 0 $?
"$zub" --test "$work/p.zub" >/dev/full 2>/dev/null; check "a passing test file's report to a full disk exits 1" 1 $?
"$zub" -e 'try [print 1] print 2' >/dev/full 2>/dev/null; check "try does not keep a failed print going" 1 $?

# The end of the system object: the version as a tuple, the cache folder under HOME or /tmp.
check "the version is a tuple" "tuple! 0.6.6" "$("$zub" -e 'prin [type?/word system/version system/version]')"
check "the cache folder is under HOME" "/x/y/.zub/" "$(HOME=/x/y "$zub" -e 'prin system/options/cache')"
check "without HOME the cache folder is under /tmp" "/tmp/.zub/" "$(env -u HOME "$zub" -e 'prin system/options/cache')"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
