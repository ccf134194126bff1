#!/usr/bin/env bash
# Runs one GUI test that needs a display: under xvfb-run, with HOME in a fresh temporary folder and
# a time limit. Without xvfb-run the test is skipped (exit status 77), saying why.
# usage: run-display-test.sh SECONDS COMMAND [ARGS...]
set -uo pipefail
limit=$1
shift
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "skipped: xvfb-run is not installed (tools/setup installs it)"
    exit 77
fi
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
# The sanitizer build's leak check leaves the GUI libraries' own process-long allocations out.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
GSETTINGS_BACKEND=memory HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" NO_AT_BRIDGE=1 \
    timeout --kill-after=5 "$limit" xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
