#!/usr/bin/env bash
# Scripts run by zub-cli through do-file: text before the header, executable scripts with a "#!"
# line, nested scripts with relative paths, header errors, and errors that name their script.
# usage: scripts_test.sh path/to/zub-cli
set -u
zub=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

. "$(dirname "$0")/../lib/check.sh"

mkdir -p "$work/a" "$work/b/c"

# ---- the header and what comes before it ------------------------------------------------------
printf 'Some words first.\nZub [Title: "T"]\nprint system/script/header/Title\n' >"$work/pre.zub"
check "text before the header is skipped" "T" "$("$zub" "$work/pre.zub" 2>&1)"
printf 'Zub/System []\nprint 1\n' >"$work/sys.zub"
check "a Zub/System script is refused" "*** Error: contains Zub/System code which requires compilation!" \
    "$("$zub" "$work/sys.zub" 2>&1 | head -1)"
"$zub" "$work/sys.zub" >/dev/null 2>&1;           check "a Zub/System script exits 254" 254 $?
printf 'Zub [Title: "broken"]\nprint 1\n[2\n' >"$work/syntax.zub"
check "a syntax error in the script runs nothing" "*** Syntax Error: missing ] at [2" \
    "$("$zub" "$work/syntax.zub" 2>&1 | head -1 | sed 's/ (line [0-9]*)//')"
"$zub" "$work/syntax.zub" >/dev/null 2>&1;        check "a syntax error exits 254" 254 $?
# Lines before the header still count: the error is at the line of the file.
printf '#!/usr/bin/env zub-cli\nA note.\nZub []\nprint 1\n1 / 0 ]\n' >"$work/lines.zub"
check "errors count the lines before the header" "*** Syntax Error: (line 5) missing [ at ]" \
    "$("$zub" "$work/lines.zub" 2>&1 | head -1)"
printf 'Zub [Title: "dir"]\nprint system/options/path\nprint system/script/path\n' >"$work/b/where.zub"
check "the script runs in its own folder" "$(printf '%s\n%s' "$work/b/" "$work/b/")" \
    "$(cd "$work/a" && "$zub" ../b/where.zub 2>&1)"
printf 'Zub []\nprint system/script/args\nprint length? system/options/args\n' >"$work/args.zub"
# The console takes the script's name off: the script gets its own arguments only.
check "the script gets the arguments" "$(printf '%s\n2' "'x y' z")" "$("$zub" "$work/args.zub" "x y" z 2>&1)"

# ---- executable scripts -------------------------------------------------------------------------------
printf '#!/usr/bin/env zub-cli\nZub [Title: "exe"]\nprint ["run as" system/script/header/Title]\nquit/return 4\n' \
    >"$work/exe.zub"
chmod +x "$work/exe.zub"
out=$(PATH="$(dirname "$zub"):$PATH" "$work/exe.zub"); status=$?
check "an executable script runs from the shell" "run as exe" "$out"
check "an executable script's status" 4 $status
printf '#!/usr/bin/env zub-cli\nprint "no header" print 1 + 2\n' >"$work/bare.zub"
chmod +x "$work/bare.zub"
check "an executable script without a header skips the #! line" "$(printf 'no header\n3')" \
    "$(PATH="$(dirname "$zub"):$PATH" "$work/bare.zub" 2>&1)"
printf '#!/usr/bin/env zub-cli\n1 / 0\n' >"$work/bare-error.zub"
check "an error in such a script counts the #! line" "*** Math Error: attempt to divide by zero" \
    "$("$zub" "$work/bare-error.zub" 2>&1 | head -1)"

# ---- nested scripts ----------------------------------------------------------------------------------------
printf 'Zub []\nprint ["outer in" system/options/path]\nprint do %%c/inner.zub\nprint ["back in" system/options/path]\n' \
    >"$work/b/outer.zub"
printf 'Zub []\nprint ["inner in" system/options/path]\ndo %%../up.zub\n' >"$work/b/c/inner.zub"
printf 'Zub []\nprint ["up in" system/options/path]\n"done"\n' >"$work/b/up.zub"
check "nested scripts find each other by relative paths" \
    "$(printf 'outer in %s\ninner in %s\nup in %s\ndone\nback in %s' "$work/b/" "$work/b/c/" "$work/b/" "$work/b/")" \
    "$(cd "$work/a" && "$zub" ../b/outer.zub 2>&1)"

# An error inside a nested script ends the program with 254, its report naming the files from the
# outermost script in.
printf 'Zub []\nprint "outer"\ndo %%c/fails.zub\nprint "not here"\n' >"$work/b/calls.zub"
printf 'Zub []\nx: 0\n1 / x\n' >"$work/b/c/fails.zub"
out=$("$zub" "$work/b/calls.zub" 2>"$work/err"); status=$?
check "the outer script runs up to the error" "outer" "$out"
check "an error in a nested script exits 254" 254 $status
check "the report gives the error" "*** Math Error: attempt to divide by zero" "$(head -1 "$work/err")"
check "the report names the files" "*** Files: %$work/b/calls.zub" "$(grep -o '^\*\*\* Files: [^ ]*' "$work/err")"
# Caught, the error names the nested script last, and the caller is back in its folder.
printf 'Zub []\ne: try [do %%c/fails.zub]\nprint [e/id last e/files]\nprint system/options/path\nprobe system/state/source-files\n' \
    >"$work/b/catches.zub"
check "a caught error names the nested script" \
    "$(printf 'zero-divide %s\n%s\n[%%%s]' "$work/b/c/fails.zub" "$work/b/" "$work/b/catches.zub")" \
    "$(cd "$work/a" && "$zub" ../b/catches.zub 2>&1)"
printf 'Zub []\ndo %%c/quits.zub\nprint "not here"\n' >"$work/b/quit-outer.zub"
printf 'Zub []\nquit/return 9\n' >"$work/b/c/quits.zub"
"$zub" "$work/b/quit-outer.zub" >/dev/null 2>&1;   check "quit in a nested script ends the program" 9 $?
printf 'Zub []\ndo %%c/none.zub\n' >"$work/b/no-header-outer.zub"
printf 'print 1\n' >"$work/b/c/none.zub"
check "do of a nested script without a header" "*** Syntax Error: script is missing a Zub header: c/none.zub" \
    "$("$zub" "$work/b/no-header-outer.zub" 2>&1 | head -1)"

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
