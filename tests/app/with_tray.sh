#!/usr/bin/env bash
# Runs a test program on the X display of xvfb-run with a tray host (trayer) on it, so the program's
# tray icon can really be placed. Usage: xvfb-run -a with_tray.sh program [arguments...]
set -euo pipefail
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
tray=$!
trap 'kill "$tray" 2>/dev/null || true' EXIT
export QT_QPA_PLATFORM=xcb HORAVINE_TEST_TRAY=1
# The program itself waits for the tray to appear.
"$@"
