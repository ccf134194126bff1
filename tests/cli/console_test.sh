#!/usr/bin/env bash
# zub-cli as the console in terminal mode, driven by lines on standard input: the banner and the
# prompts, multi-line input and its cues, escape and halt, errors, the result line cut to the
# console's width, the script named on the command line with its options and arguments, and the
# shell words in a folder of their own.
# usage: console_test.sh path/to/zub-cli
set -u
zub=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

. "$(dirname "$0")/../lib/check.sh"
# The loop's output after its banner (three lines), for the lines given; the last prompt, left
# open at the end of the input, ends the text.
repl() {  # input [zub-cli arguments...]
    local input=$1
    shift
    printf '%b' "$input" | COLUMNS=${COLUMNS:-80} "$zub" "$@" 2>&1 | tail -n +4
}

# ---- the banner, prompts, multi-line input ------------------------------------------------------
check "the banner, then the prompt" "$(printf -- '--== Zub 0.6.6 ==-- \nType HELP for starting information. \n\n>> ')" \
    "$(printf '' | "$zub")"
check "a result after the result prefix" ">> == 3
>> " "$(repl '1 + 2\n')"
check "an empty line prints nothing" ">> >> == 1
>> " "$(repl '\n1\n')"
check "print prints its text and no result" ">> hi
>> " "$(repl 'print "hi"\n')"
check "an open block waits with its cue, then runs as one" ">> [    == [1
2]
>> " "$(repl '[1\n    2]\n')"
check "a block open over several lines" ">> [    [    [    == [a
[b]
c]
>> " "$(repl '[a\n[b\n]\nc]\n')"
check "an open paren waits" ">> (    == 3
>> " "$(repl '(1 +\n2)\n')"
check "an open brace string waits; its line end is kept" '>> {    == "abc^/def"
>> ' "$(repl '{abc\ndef}\n')"
check "a string inside a block" '>> {    [    == ["a^/b"
1]
>> ' "$(repl '[{a\nb}\n1]\n')"
check "an open tag waits" '>> <    == <a
b>
>> ' "$(repl '<a\nb>\n')"
check "an open binary waits" ">> {    == #{1234}
>> " "$(repl '#{12\n34}\n')"
# The end of the input ends the console, a command left open included (never a loop that asks
# for ever: the timeout only guards against that fault).
out=$(printf '[1\n' | timeout 60 "$zub" 2>&1); status=$?
check "the end of the input inside an open block ends the console" 0 $status
check "the open block is never run" ">> [    [    " "$(tail -n +4 <<<"$out")"
out=$(printf 'forever [ask ""]\n' | timeout 60 "$zub" 2>&1); status=$?
check "a loop that asks on after the end of the input ends" 0 $status
check "escape drops the pending lines" ">> {    (escape)
>> == 2
>> " "$(repl '{x\n\e\n2\n')"
check "escape at the prompt" ">> (escape)
>> " "$(repl 'x\e\n')"
check "a closing bracket alone is a syntax error at once" ">> *** Syntax Error: (line 1) missing [ at ]" \
    "$(repl ']\n' | head -1)"
check "a mismatched closer ends the lines as an error" ">> [    *** Syntax Error: (line 2) missing ] at )" \
    "$(repl '[1\n)\n' | head -1)"
check "the console's state after a complete command" "[mono none []]" \
    "$(repl '[1\n2]\nprint mold reduce [system/console/mode system/console/cue system/console/delimiters]\n' | sed -n 3p | cut -c4-)"

# The engine's pieces, asked from the loop: the lexer pass that finds what is open, and count.
delims() {  # text: check-delimiters's answer and the open delimiters
    repl "print mold reduce [system/console/check-delimiters {$1} system/console/delimiters]\n" | head -1 | cut -c4-
}
check "delimiters: complete text" "[true []]" "$(delims '1 [2] (3) {4}')"
check "delimiters: nested open block and paren" '[true [#"[" #"("]]' "$(delims '[1 (2')"
check "delimiters: an open string in a block" '[true [#"[" #"{"]]' "$(delims '[^{a')"
check "delimiters: an open tag" '[true [#"<"]]' "$(delims '<a')"
check "delimiters: an open binary" '[true [#"{"]]' "$(delims '#^{12')"
check "delimiters: a mismatched closer cannot be mended" '[false [#"["]]' "$(delims '[1)')"
check "delimiters: a closer alone cannot be mended" "[false []]" "$(delims ']')"
check "delimiters: bad input cannot be mended" "[false []]" "$(delims '1 ^} 2')"
check "count forward and backward" "[3 0 2 1]" "$(repl 'c: :system/console/count s: "%%%a%%" print mold reduce [c s #"%" c next next next s #"%" c/reverse back tail s #"%" c/reverse skip tail s -3 #"a"]\n' | head -1 | cut -c4-)"

# ---- errors, halt, prompts and prefixes -------------------------------------------------------------
check "an error, an empty line, then the next command" ">> *** Math Error: attempt to divide by zero
*** Where: /
*** Near : 1 / 0
*** Stack: launch run eval-command do-command try-do

>> == 2
>> " "$(repl '1 / 0\n1 + 1\n')"
check "halt returns to the prompt" ">> (halted)
>> == 1
>> " "$(repl 'halt print "not here"\n1\n')"
check "a prompt computed by a function" ">> == 0
$ == 1
$ " "$(repl 'system/console/prompt: does ["$ "] 0\n1\n')"
check "a prompt of another type is formed" ">> == 0
7" "$(repl 'system/console/prompt: 7 0\n')"
check "a prompt that fails is reported and reset" "*** Math Error: attempt to divide by zero
*** Where: system/console/prompt" "$(repl 'system/console/prompt: does [1 / 0] 0\n' | sed -n 2,3p)"
check "after a failing prompt the default is back" ">> == 5" "$(repl 'system/console/prompt: does [1 / 0] 0\n5\n' | tail -2 | head -1)"
check "the result prefix is the console's" ">> => 1
>> " "$(repl 'system/console/result: "=>"\n1\n' | tail -2)"
check "a failing result prefix is reported, the default used" "*** Where: system/console/result
== 0" "$(repl 'system/console/result: does [1 / 0] 0\n' | grep -e Where -e '^== ')"
check "a float's result is formed" ">> == 0.5
>> " "$(repl '1.0 / 2\n')"
check "the lines entered are the history, newest first; empty ones are not kept" \
    '>> >> == ["system/console/history" "2" "1"]' \
    "$(repl '1\n2\n\nsystem/console/history\n' | tail -2 | head -1)"
check "input reads a line without a prompt" '>> == "hello"' "$(repl 'input\nhello\n' | head -1)"
check "ask reads a line after its prompt" '>> name? == "Zub"' "$(repl 'ask "name? "\nZub\n' | head -1)"

# ---- the result line cut to the console's width -------------------------------------------------------
long='append/dup copy [] 12345 100\n'
check "a long result is cut and ends in ..." ">> == [12345 12345 12345 1234..." "$(COLUMNS=30 repl "$long" | head -1)"
out=$(COLUMNS=30 repl "$long" | head -1)
out=${out#>> }
check "the cut leaves the width less the prompt" 29 "${#out}"
check "a result that fits is not cut" ">> == [12345 12345]" "$(COLUMNS=30 repl 'append/dup copy [] 12345 2\n' | head -1)"
check "a narrow console cuts at the first column, never before" ">> == ..." "$(COLUMNS=2 repl "$long" | head -1)"
check "a console one column wide" ">> == ..." "$(COLUMNS=1 repl "$long" | head -1)"
check "the width is the console's size" "40x12" "$(printf 'print system/console/size\n' | COLUMNS=40 LINES=12 "$zub" | sed -n 4p | cut -c4-)"

# ---- scripts, options and arguments ------------------------------------------------------------------
mkdir -p sub/deep
printf 'Zub []\nprint ["args" mold system/options/args mold system/script/args]\nprint mold what-dir\n1 / 0\nprint "not here"\n' \
    >sub/fail.zub
out=$(printf 'x: 5\nx * 2\n' | "$zub" --catch sub/fail.zub a "b c" 2>&1); status=$?
check "--catch: the script gets its arguments" "args [\"a\" \"b c\"] \"a 'b c'\"" "$(head -1 <<<"$out")"
check "--catch: the script runs in its folder" "%$work/sub/" "$(sed -n 2p <<<"$out")"
check "--catch: the error is printed in the console" "*** Math Error: attempt to divide by zero" "$(sed -n 3p <<<"$out")"
check "--catch: the console stays, without a banner" ">> == 5
>> == 10
>> " "$(grep -v -- '--==' <<<"$out" | sed -n '/^>>/,$p')"
check "--catch: the console ends with the input" 0 $status
check "--catch: the console stays in the script's folder" ">> %$work/sub/" \
    "$(printf 'pwd\n' | "$zub" --catch sub/fail.zub 2>&1 | grep -m1 '^>> %')"
out=$("$zub" sub/fail.zub x 2>"$work/err"); status=$?
check "without --catch an error ends the program" 254 $status
check "without --catch the error goes to stderr" "*** Math Error: attempt to divide by zero" "$(head -1 "$work/err")"
check "without --catch the output stops at the error" "args [\"x\"] \"x\"" "$(head -1 <<<"$out")"
printf 'Zub []\nprint "ok"\n' >sub/ok.zub
check "a script that ends normally ends the program" "ok" "$(printf '1 + 1\n' | "$zub" sub/ok.zub)"
check "other options are skipped" "ok" "$("$zub" --verbose --x=1 sub/ok.zub 2>&1)"
printf 'Zub []\nprint [mold system/options/args mold system/script/args]\n' >./--odd.zub
check "-- ends the options: the next is the script" '["--x" "y z"] "--x '"'y z'"'"' "$("$zub" -- --odd.zub --x "y z" 2>&1)"
check "--catch after -- is the script's" '["--catch"] "--catch"' "$("$zub" -- --odd.zub --catch </dev/null 2>&1)"
printf 'Zub []\nprint [mold system/options/args mold system/script/args]\n' >"it's a name.zub"
check "a script name the raw arguments quote" '["a" "b c"] "a '"'b c'"'"' "$("$zub" "it's a name.zub" a "b c" 2>&1)"
check "an option the raw arguments quote" '["d"] "d"' "$("$zub" "--x y" "it's a name.zub" d 2>&1)"
check "the console with --catch and no script" ">> == 3" "$(printf '1 + 2\n' | "$zub" --catch | sed -n 4p)"
printf 'Zub []\nhalt\nprint "not here"\n' >halt.zub
check "halt in a script" "(halted)" "$("$zub" halt.zub 2>&1)"
"$zub" halt.zub >/dev/null 2>&1;                      check "halt in a script ends it with 0" 0 $?
printf 'Zub [\n' >open.zub
"$zub" open.zub >/dev/null 2>&1;                      check "a script that does not load exits 254" 254 $?
"$zub" --catch missing/x.zub >/dev/null 2>&1;         check "a missing script after --catch exits 1" 1 $?
# The script's folder is entered only when it exists: read-argument asked for a script in a folder
# that is not there prints the read error and stays where it was.
out=$(printf '%s\n' 'system/script/args: "nowhere/x.zub" system/options/args: ["nowhere/x.zub"] 0' \
    'system/console/read-argument' 'pwd' | "$zub" 2>&1)
check "a script in a missing folder: the read error" 1 "$(grep -c '^>> \*\*\* Access Error: cannot open: %nowhere/x.zub' <<<"$out")"
check "a script in a missing folder: no script" 1 "$(grep -c '^== none' <<<"$out")"
check "a script in a missing folder leaves the folder as it was" 1 "$(grep -c "^>> %$work/\$" <<<"$out")"

# ---- shell words in a folder of their own -------------------------------------------------------------
mkdir shell && cd shell || exit 1
mkdir folder
: >a.txt; : >b.zub; : >c; : >a-name-that-is-quite-long.txt; : >folder/inner.txt
check "ls lists in columns, names padded" "$(printf '\t%-19s \t%-19s \t%-19s \n\t%-19s \t%-19s \n>> ' \
    'a-name-that-is-...' a.txt b.zub c folder/)" "$(repl 'ls\n' | sed '1s/^>> //')"
check "ls in a console 40 columns wide: one column" "$(printf '\t%-21s \n' a-name-that-is-qu... a.txt)" \
    "$(COLUMNS=40 repl 'ls\n' | sed '1s/^>> //' | head -2)"
check "a narrow console still lists every entry" 5 "$(COLUMNS=3 repl 'ls\n' | grep -c '	')"
check "a narrow console cuts names short, never negatively" "$(printf '\t%-5s \n' a... a... b... c f...)" \
    "$(COLUMNS=3 repl 'll\n' | sed '1s/^>> //' | head -5)"
check "so does a narrow console with columns" "$(printf '\t%-5s \t%-5s \t%-5s \n' a... a... b...)" \
    "$(COLUMNS=3 repl 'list-dir/col %. 3\n' | sed '1s/^>> //' | head -1)"
check "ll lists one entry per line" "$(printf '\t%-66s \n' a-name-that-is-quite-long.txt a.txt b.zub c folder/)" \
    "$(repl 'll\n' | sed '1s/^>> //' | head -5)"
check "ls of a folder named by a word" "$(printf '\t%-19s ' inner.txt)" "$(repl 'ls folder\n' | sed '1s/^>> //' | head -1)"
check "list-dir/col" "$(printf '\t%-31s \t%-31s ' a-name-that-is-quite-long.txt a.txt)" \
    "$(repl 'list-dir/col %. 2\n' | sed '1s/^>> //' | head -1)"
check "list-dir of a number is refused" ">> *** Script Error: list-dir does not allow integer! for its dir argument" \
    "$(repl 'list-dir 42\n' | head -1)"
check "pwd prints the folder molded" ">> %$work/shell/" "$(repl 'pwd\n' | head -1)"
check "cd to a folder, then pwd" ">> == %$work/shell/folder/
>> %$work/shell/folder/" "$(repl 'cd folder\npwd\n' | head -2)"
check "cd %.. and a file" ">> == %$work/
>> == %$work/shell/" "$(repl 'cd %..\ncd %shell\n' | head -2)"
check "cd to a missing folder is an error, and the folder stays" ">> %$work/shell/" \
    "$(repl 'cd %missing\npwd\n' | grep '^>> %')"
check "dir is ls" "true" "$(repl 'print same? :dir :ls\n' | head -1 | cut -c4-)"
check "q ends the console" ">> " "$(repl 'q\nprint "not here"\n')"
printf 'q\n' | "$zub" >/dev/null 2>&1;                 check "q ends with 0" 0 $?
check "expand previews the preprocessor" ">> [1 + 2]
== [1 + 2]" "$(repl 'expand [#if true [1 + 2]]\n' | head -2)"

echo "console: $passed passed, $failed failed"
[ $failed -eq 0 ]
