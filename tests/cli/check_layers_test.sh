#!/usr/bin/env bash
# tools/check-layers on small trees: which includes it lets through and which it lists.
# usage: check_layers_test.sh path/to/source-root
set -u
root=$1
check_layers=$root/tools/check-layers
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0 passed=0

# file, the include it holds, expected status (0 passes, 1 is listed)
cases=(
    "runtime/a.cpp runtime/cell.h 0"
    "runtime/a.cpp datatypes/types.def 0"
    "runtime/a.h evaluator/words.def 0"
    "runtime/a.cpp system/platform/os.h 0"
    "runtime/a.cpp evaluator/stack.h 1"
    "runtime/a.h datatypes/context.h 1"
    "runtime/a.cpp system/output.h 1"
    "system/platform/a.cpp runtime/memory.h 1"
    "system/a.cpp evaluator/stack.h 0"
    "datatypes/a.cpp evaluator/actions.h 0"
    "evaluator/lexer/a.cpp datatypes/block.h 0"
    "evaluator/a.cpp boot/embedded.h 1"
    "environment/a.cpp boot/boot.h 1"
    "boot/cli/a.cpp environment/routines.h 0"
    "view/backend/a.cpp view/face.h 1"
    "view/a.cpp view/backend/draw.h 0"
    "console/a.cpp view/face.h 0"
    "boot/a.cpp console/console.h 1"
    "runtime/a.cpp tests/unit/runtime_fixture.h 1"
)
for c in "${cases[@]}"; do
    read -r file target expected <<<"$c"
    tree=$work/tree
    rm -rf "$tree"
    mkdir -p "$tree/$(dirname "$file")"
    printf '#include <vector>\n  #  include "%s"  // why\n' "$target" >"$tree/$file"
    out=$("$check_layers" "$tree" 2>&1)
    status=$?
    if [ "$status" == "$expected" ] && { [ "$expected" == 0 ] || grep -q "^$file:2: #include \"$target\"" <<<"$out"; }; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        printf 'FAIL %s including %s: expected status %s, got %s\n%s\n' "$file" "$target" "$expected" "$status" "$out"
    fi
done

# Every offending include is listed, not only the first.
rm -rf "$work/tree" && mkdir -p "$work/tree/runtime"
printf '#include "evaluator/a.h"\n#include "boot/b.h"\n' >"$work/tree/runtime/x.cpp"
count=$("$check_layers" "$work/tree" 2>&1 | grep -c '^runtime/x.cpp:')
if [ "$count" == 2 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL two offences listed: got $count"; fi

echo "$passed passed, $failed failed"
[ "$failed" == 0 ]
