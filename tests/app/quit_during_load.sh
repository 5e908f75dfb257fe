#!/usr/bin/env bash
# A quit while the store is still loading (the window is already up): SIGTERM ends the program with
# status 0, the store file is left byte for byte as it was, and the window's frame is not written.
# The store holds a million timers so that the load outlasts the signal; when the store was in first
# (a machine much faster than this check expects) the check is skipped (status 77).
# Usage: quit_during_load.sh path/to/horavine   (run inside xvfb-run)
set -euo pipefail
program=$1
source "$(dirname "$0")/fresh_home.sh"
pid=
stop_programs() { [[ -n $pid ]] && kill -KILL "$pid" 2>/dev/null || true; }
export HORAVINE_REPORT_STARTUP=1
store=$home/Documents/Projects.horavine
defaults=$home/.config/horavine/defaults.json

# The program makes the store; then a million timers go into it.
"$program" >"$home/first.log" 2>&1 &
pid=$!
wait_for_line 'store in the main window' 600 "$home/first.log" "$pid" || { echo "no first start"; exit 1; }
kill -TERM "$pid"
wait "$pid"
pid=
python3 - "$store" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.executemany('INSERT INTO "Timer" ("id", "notes", "type", "billed") VALUES (?, ?, 0, 0)',
               ((key, "Meeting %d" % key) for key in range(1, 1_000_001)))
db.commit()
db.close()
PY
rm -f "$defaults"
checksum=$(cksum <"$store")

"$program" >"$home/load.log" 2>&1 &
pid=$!
for _ in $(seq 600); do
  grep -q 'main window shown' "$home/load.log" && break
  kill -0 "$pid" 2>/dev/null || { echo "the program ended early:"; cat "$home/load.log"; exit 1; }
  sleep 0.02
done
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=
if grep -q 'store in the main window' "$home/load.log"; then
  echo "the store was in before the signal; nothing to check"
  exit 77
fi
grep -q 'main window shown' "$home/load.log" || fail "no window while loading"
[[ $status -eq 0 ]] || fail "exit status $status on SIGTERM during the load"
[[ $(cksum <"$store") == "$checksum" ]] || fail "the store changed"
if [[ -f $defaults ]] && grep -q '"MainWindow"' "$defaults"; then
  fail "the window's frame was written"
fi
[[ $failed -eq 0 ]] || { cat "$home/load.log"; exit 1; }
echo "1 passed, 0 failed"
