#!/usr/bin/env bash
# zub's console window end to end, under a display (run through run-display-test.sh, which gives a
# fresh HOME and XDG_CONFIG_HOME): commands typed through XTEST print their results and errors in
# the terminal, quit ends with its status and writes the configuration, a second start restores
# history, size and position, a broken configuration gives the defaults, a script prints into the
# window, resizing reaches the terminal, closing quits. Without a display zub stays in the terminal.
# Every run ends itself: a time limit kills a zub that would wait for input. With ZUB_CONSOLE_QUICK
# set (the build where every allocation collects, too slow for typing and dialogs), only the short
# runs of scripts.
# usage: TEST ZUB
set -uo pipefail
zub=$1
failures=0
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cfg="${XDG_CONFIG_HOME:-$HOME/.config}/Zub-Console/console-cfg.zub"

check() {  # name, expected, actual
    if [ "$2" != "$3" ]; then
        printf 'FAIL %s\n  expected: %q\n  got:      %q\n' "$1" "$2" "$3"
        failures=$((failures + 1))
    fi
}
contains() {  # name, needle, file
    grep -qF -- "$2" "$3" || { printf 'FAIL %s: %q not in\n' "$1" "$2"; cat "$3"; failures=$((failures + 1)); }
}

# Starts zub with the given arguments, types each further argument as a line into its window once
# it stands (key:NAME presses a key instead), and waits for it to end (at most 15 seconds); sets $status.
session() {  # zub-args-count, zub-args..., lines...
    local n=$1
    shift
    timeout "${ZUB_CONSOLE_LIMIT:-15}" "$zub" "${@:1:$n}" >"$work/out" 2>"$work/err" &
    local pid=$!
    shift "$n"
    if [ $# -gt 0 ]; then
        local wid
        wid=$(timeout 10 xdotool search --sync --onlyvisible --name "^Zub Console$" | head -1)
        xdotool mousemove --window "$wid" 60 60 click 1
        for line in "$@"; do
            case $line in
                key:*) xdotool key --delay 200 ${line#key:} ;;
                *) xdotool type --delay 5 "$line" && xdotool key Return ;;
            esac
        done
    fi
    wait "$pid"
    status=$?
}

# The runs that type into the window.
typed_sessions() {
    # Typed commands: a result, an error's formed text, the lines read back, and quit's status.
    session 0 '1 + 2' '1 / 0' "write %$work/lines mold gui-console-ctx/terminal/lines" 'quit/return 3'
    check "quit/return 3 ends with status 3" 3 "$status"
    contains "a result in the terminal" '"== 3"' "$work/lines"
    contains "an error in the terminal" '"*** Math Error: attempt to divide by zero"' "$work/lines"
    contains "the configuration written at quit" 'history: ["quit/return 3"' "$cfg"
    contains "the configuration's header" 'Purpose: "Zub Console Configuration File"' "$cfg"

    # A second start restores history, size and position; F12 hides the menu bar and shows it again.
    sed -i 's/win-size: 640x480/win-size: 700x500/; s/win-pos: (200, 200)/win-pos: 40x50/' "$cfg"
    session 0 key:F12 "write %$work/menu mold reduce [gui-console-ctx/cfg/menu-bar? gui-console-ctx/win/menu]" key:F12 \
        "write %$work/state mold reduce [gui-console-ctx/win/size gui-console-ctx/win/offset last system/console/history]" \
        'quit'
    check "second start: status" 0 "$status"
    check "second start: size, position, history" '[700x500 40x50 "1 + 2"]' "$(cat "$work/state")"
    check "F12 hides the menu bar" '[false none]' "$(cat "$work/menu")"
    contains "F12 twice: the menu bar back" 'menu-bar?: true' "$cfg"
    contains "second start: position saved as a point" 'win-pos: (40, 50)' "$cfg"

    # The menu bar through the keyboard: Options > Choose Font... takes the font the chooser answers,
    # File > Quit ends the program as closing the window does, and the font's size is saved.
    session 0 'dialog-routines/answer-dialog ["DejaVu Sans Mono 14"]' 'key:F10 Right Down Return' \
        "write %$work/font mold gui-console-ctx/console/font/size" 'key:F10 Down Down Return'
    check "menu Quit: status" 0 "$status"
    check "menu Choose Font: the console's font" 14 "$(cat "$work/font")"
    contains "menu Quit: the font size saved" 'font-size: 14' "$cfg"
}
[ -n "${ZUB_CONSOLE_QUICK:-}" ] || typed_sessions

# A broken configuration file gives the defaults, and is written whole at quit.
printf 'Zub [\n((( font-size: "big"' >"$cfg"
printf 'Zub []\nwrite %%%s/cfg mold reduce [gui-console-ctx/cfg/font-size gui-console-ctx/win/size]\nquit/return 4\n' \
    "$work" >"$work/broken.zub"
session 1 "$work/broken.zub"
check "broken configuration: status" 4 "$status"
check "broken configuration: defaults" '[11 640x480]' "$(cat "$work/cfg")"
contains "broken configuration: replaced" 'font-size: 11' "$cfg"

# A script prints into the window, and a resize reaches the terminal.
cat >"$work/script.zub" <<ZUB
Zub []
print "from the script"
ctx: gui-console-ctx
ctx/win/actors/on-resize ctx/win make event! [type: 'resize offset: 799x599]
write %$work/script mold reduce [
    find ctx/terminal/lines "from the script"  ctx/console/size  system/console/size/x > 80
]
ctx/win/actors/on-close ctx/win make event! [type: 'close]
ZUB
session 1 "$work/script.zub"
check "script: status after the window's close" 0 "$status"
check "script: printed into the window, resized" '[["from the script"] 800x600 true]' "$(cat "$work/script")"

dialog_sessions() {
    # The settings dialog, driven from the console's timer ticks while it waits: a swatch sets the
    # background at once, an invalid colour keeps the old one, OK stores the buffer lines; dark mode is
    # not offered. The About dialog shows its logo and closes.
    cat >"$work/dialogs.zub" <<'ZUB'
Zub []
ctx: gui-console-ctx
out: copy []
find-face: func [root cond [block!] /local found] [
	found: copy []
	foreach-face/with root [append found face] cond
	found
]
dialog: func [title [string!]] [
	foreach w head system/view/screens/1/pane [if w/text = title [return w]]
	none
]
insert-event-func 'drive func [face event /local dlg fields swatch ok check close] [
	if event/type = 'time [
		if dlg: dialog "Settings" [
			fields: find-face dlg [face/type = 'field]
			swatch: first find-face dlg [all [face/type = 'base face/color = 0.43.54]]
			swatch/actors/on-down swatch event
			check: find-face dlg [face/type = 'check]
			append out reduce [
				fields/1/text fields/2/text fields/3/text ctx/console/color check/2/enabled?
			]
			fields/2/text: "not a colour"
			fields/3/text: "500"
			ok: first find-face dlg [face/text = "OK"]
			ok/actors/on-click ok event
		]
		if dlg: dialog "About" [
			append out length? find-face dlg [image? face/image]
			close: first find-face dlg [face/text = "Close"]
			close/actors/on-click close event
		]
	]
	none
]
ctx/show-cfg-dialog
append out reduce [ctx/cfg/buffer-lines ctx/terminal/max-lines ctx/cfg/font-color ctx/cfg/background]
ctx/display-about
write %WORK/dialogs mold out
quit
ZUB
    sed -i "s|WORK|$work|" "$work/dialogs.zub"
    session 1 "$work/dialogs.zub"
    check "dialogs: status" 0 "$status"
    check "dialogs: settings and About" '["0.43.54" "0.0.0" "10000" 0.43.54 false 500 500 0.0.0 0.43.54 1]' \
        "$(cat "$work/dialogs")"
}
[ -n "${ZUB_CONSOLE_QUICK:-}" ] || dialog_sessions

# Without a display zub says so and runs the console in the terminal.
printf '1 + 2\n' | DISPLAY= WAYLAND_DISPLAY= timeout 15 "$zub" >"$work/out" 2>"$work/err"
check "no display: status" 0 $?
contains "no display: the result on stdout" '== 3' "$work/out"

[ $failures -eq 0 ] && echo "console window: all cases passed"
exit $((failures > 0))
