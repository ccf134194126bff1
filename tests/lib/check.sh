# What the shell tests share, sourced by each: `check name expected actual` counts a case and
# reports a failing one with both texts quoted; `passed` and `failed` hold the tallies.
failed=0 passed=0

check() {  # name, expected, actual
    if [ "$2" == "$3" ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s\n  expected: %q\n  got:      %q\n' "$1" "$2" "$3"
    fi
}
