#!/usr/bin/env bash
# The debugging tools and help as a person sees them through zub-cli: trace output, a debug session
# typed on standard input, a profile report, and what help, source and about print.
# usage: tools_test.sh path/to/zub-cli
set -u
zub=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/../lib/check.sh"

# Scripts run in the terminal console, 80 columns wide: its width cuts the lines that help and the
# debugger print, and a halt returns to the console, which says so.
# A small function to trace, debug and profile.
cat >"$work/prelude.zub" <<'EOF'
double: func ["Twice the number" a [number!] "The number" /more "Add one" b [integer!] "What to add"] [either more [a * 2 + b] [a * 2]]
EOF
run() {  # code [stdin text]: runs the code after the prelude
    { cat "$work/prelude.zub"; printf '%s\n' "$1"; } >"$work/script.zub"
    printf '%s' "${2:-}" | "$zub" "$work/script.zub" 2>&1
}

# ---- trace -------------------------------------------------------------------------------------
pad79() { printf '%-79s' "$1"; }  # a line is as wide as the console, less one column
check "trace: one line per expression, the value after =>" \
    "$(pad79 '  x: double 1 + 2                    => 6')
6
$(pad79 '  print x                            => unset')" \
    "$(run 'trace [x: double 1 + 2 print x]')"
printf 'Zub []\nx: 1 + 2\nprint x\n' >"$work/traced.zub"
check "trace of a script file: its body's expressions" \
    "$(pad79 '  x: 1 + 2                           => 3')
3
$(pad79 '  print x                            => unset')" \
    "$(run "trace %$work/traced.zub")"
out=$(run 'trace/raw [1 + 2]')
check "trace/raw starts with INIT" "INIT -1 none none" "$(head -1 <<<"$out" | cut -d' ' -f1-4)"
check "trace/raw ends with END" "END -1 none none" "$(tail -1 <<<"$out" | cut -d' ' -f1-4)"
check "trace/raw: one line per event" 13 "$(wc -l <<<"$out" | tr -d ' ')"
check "trace/raw shows the call, its offset and the function cut to 30" \
    'CALL -1 + make action! [["Returns th...]' "$(grep '^CALL' <<<"$out" | cut -d' ' -f1-7)"
check "trace reports an error and raises it" '  /````````````````````````````````````````````````````````````````````````````'"
$(pad79 "  1 / 0                              => make error! [code: 400 type: 'mat...]")
*** Math Error: attempt to divide by zero" "$(run 'trace [1 / 0]' | head -3)"

# ---- debug -------------------------------------------------------------------------------------
session='n: 5 debug [x: double n print x] print "after"'
check "debug: ENTER, n and next step; :word prints; c continues" "-----> EVAL x:
Input: x: double n print x

-empty stack-

debug> -----> EVAL double
Input: double n print x

-empty stack-

debug> -----> OPEN double (function!)
Input: n print x

Stack: double

debug> -----> EVAL n
Input: n print x

Stack: double

debug> == 5
debug> 10
after" "$(run "$session" $'\nn\nnext\n:n\nc\n')"
out=$(run "$session" $'q\n')
check "debug: q stops the program" "-----> EVAL x:
Input: x: double n print x

-empty stack-

debug> (halted)" "$out"
run "$session" $'q\n' >/dev/null; check "debug: q ends with status 0" 0 $?
check "debug: the end of the input stops the program too" "$out" "$(run "$session" '')"
out=$(run "$session" $'-s\nwatch n\n\n\n-w n\nbogus\nhelp\nc\n')
check "debug: a watched word is shown after each event" 2 "$(grep -c '^Watch: n: 5$' <<<"$out")"
check "debug: an unknown command is said so" 1 "$(grep -c 'Unknown command!' <<<"$out")"
check "debug: help lists the sixteen commands" 16 "$(grep -c $'\t`' <<<"$out")"
check "debug: -s leaves the stack out" 0 "$(grep -c '^Stack' <<<"$out")"
out=$(run 'debug/later [a: 1 @stop b: 2 @go c: 3]' $'\n\n\n\n\n\n\n\n\n\n')
check "debug/later: the first prompt is at @stop" "-----> EVAL @stop" "$(head -1 <<<"$out")"
check "debug/later: @go ends the prompts" "EVAL @stop PUSH @stop EVAL b: EVAL 2 PUSH 2 SET b 2" \
    "$(grep -o -- '-----> .*' <<<"$out" | cut -c8- | paste -sd' ')"
out=$(run 'debug [double 2]' $'+p\n\n\n\n\n\n\n\nc\n')
check "debug: +p shows the function being run" "Call: double" "$(grep -m1 '^Call:' <<<"$out")"
out=$(run 'debug/later [1 / 0]' $'\n')
check "debug: an error stops at the prompt, then goes on" "-----> ERROR make error! [code: 400 type: 'math id: 'zero-divide arg1: none arg
Stack: /
Stack: 0
debug> *** Math Error: attempt to divide by zero" "$(grep -v '^$' <<<"$out" | head -4)"

# ---- profile -----------------------------------------------------------------------------------
out=$(run 'profile [loop 3 [double 1] append [] 1]')
check "profile: the value first" "== [1]" "$(head -1 <<<"$out")"
check "profile: one ranked line per callable" 4 "$(grep -cE '^#[1-4] +[^ ]+ +\| [0-9]+ +\| [0-9:.]+$' <<<"$out")"
check "profile: the columns" '#1   double           | 3          |' "$(grep -E '^#[1-3] +double ' <<<"$out" | sed 's/^#[0-9]/#1/' | cut -c1-36)"
check "profile: the most called first" "3 3 3 1 1" "$(grep '^#' <<<"$out" | cut -d'|' -f2 | tr -d ' ' | paste -sd' ')"
out=$(run "profile/by [loop 2 [double 1]] 'name")
check "profile/by name: ascending names" "* double either loop" \
    "$(grep '^#' <<<"$out" | tr -s ' ' | cut -d' ' -f2 | paste -sd' ')"

# ---- help, source, about ---------------------------------------------------------------------
check "help of a native" "USAGE:
     PRINT value

DESCRIPTION:
     Writes the value to the output, reduced when it is a block, and a line end.
     PRINT is a native! value.

ARGUMENTS:
     value        [any-type!] " "$(run 'help print')"
check "help of an action begins with its usage" "USAGE:
     APPEND series value" "$(run 'help append' | head -2)"
check "help of a function with refinements" "USAGE:
     DOUBLE a

DESCRIPTION:
     Twice the number.
     DOUBLE is a function! value.

ARGUMENTS:
     a            [number!] \"The number.\"

REFINEMENTS:
     /more        => Add one.
        b            [integer!] \"What to add.\"" "$(run 'help double')"
check "help of a datatype lists its values" "    double          => Twice the number." "$(run 'help function!' | grep '^    double ')"
check "help of an object" "O is an object! with the following words and values:
     a  integer!      1
     b  string!       \"two\"" "$(run 'o: make object! [a: 1 b: "two"] help o')"
check "help of a search string" "     issue!          datatype!     issue!
     to-hex          native!       Returns the hexadecimal digits of the int...
     to-issue        function!     Convert to issue! value." "$(run 'help "issue!"')"
check "help of a word without value searches names" "     double          function!     Twice the number." \
    "$(run 'help doub' | head -1)"
check "help of nothing found" "No matching values were found in the global context." "$(run '? nosuchword')"
check "help alone prints the usage" $'\tUse HELP or ? to view built-in docs for functions, values ' "$(run 'help' | sed -n 2p)"
check "source of a native" "PRINT is a native! value, so source is not available." "$(run 'source print')"
check "source of a function" 'double: func ["Twice the number" a [number!]' "$(run 'source double' | cut -c1-44)"
check "source of a routine" "; TRACING? is a routine! value; its body is Zub/System code." "$(run 'source tracing?' | head -1)"
check "about names the Linux platform" "Zub 0.6.6 for Linux built" "$(run 'about' | cut -d' ' -f1-5)"
out=$(run 'about/debug')
check "about/debug frames the versions" "-----------ZUB & PLATFORM VERSION-----------" "$(head -1 <<<"$out" | sed 's/ *$//')"
check "about/debug names the platform" "OS: 'Linux arch: 'x86-64" "$(grep -o "OS: 'Linux arch: '[^ ]*" <<<"$out")"

printf 'tools: %d passed, %d failed\n' "$passed" "$failed"
[ "$failed" -eq 0 ]
