#!/usr/bin/env bash
# Starts the program under Xvfb with a fresh home: it must create the store, hand a second launch
# over to itself (the second exits 0), and exit 0 on SIGTERM with the store saved.
# Usage: end_to_end.sh path/to/horavine   (run inside xvfb-run)
set -euo pipefail
program=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
export HOME=$home
unset XDG_DOCUMENTS_DIR XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
# The program is checked for behaviour here; leak checks of the desktop libraries belong elsewhere.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
store=$home/Documents/Projects.horavine

"$program" >"$home/first.log" 2>&1 &
first=$!
for _ in $(seq 100); do
  [[ -s $store && -f $home/.config/horavine/defaults.json ]] && break
  kill -0 "$first" 2>/dev/null || { echo "the program ended early:"; cat "$home/first.log"; exit 1; }
  sleep 0.1
done
[[ -s $store ]] || { echo "no store at $store"; exit 1; }
[[ -f $home/.config/horavine/defaults.json ]] || { echo "no defaults file"; exit 1; }

timeout 20 "$program" >"$home/second.log" 2>&1 || { echo "second launch failed:"; cat "$home/second.log"; exit 1; }
kill -0 "$first" || { echo "the first instance ended on the second launch"; exit 1; }

kill -TERM "$first"
status=0
wait "$first" || status=$?
[[ $status -eq 0 ]] || { echo "exit status $status on SIGTERM:"; cat "$home/first.log"; exit 1; }
[[ -s $store ]] || { echo "store gone after quitting"; exit 1; }
echo "1 passed, 0 failed"
