#!/usr/bin/env bash
# Starts the program under Xvfb with a fresh home: it must create the store and the defaults, settle
# the currency from a German locale, hand a second launch over to itself (the second exits 0), post
# the refresh notice at +10 s and +20 s, and exit 0 on SIGTERM with the store saved; a later run
# under an American locale keeps the stored currency.
# Usage: end_to_end.sh path/to/horavine   (run inside xvfb-run)
set -euo pipefail
program=$1
home=$(mktemp -d)
first=
cleanup() {
  [[ -n $first ]] && kill -TERM "$first" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home
unset XDG_DOCUMENTS_DIR XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME LANG LANGUAGE LC_MONETARY
# The program is checked for behaviour here; leak checks of the desktop libraries belong elsewhere.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
export HORAVINE_LOG_REFRESH=1 HORAVINE_REPORT_STARTUP=1
store=$home/Documents/Projects.horavine
defaults=$home/.config/horavine/defaults.json
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# The currency as stored in the defaults file (nlohmann writes UTF-8 as is).
stored_currency() {
  sed -n 's/.*"defaultProjectHourlyRateCurrency": *"\([^"]*\)".*/\1/p' "$defaults"
}

# Waits up to $2 tenths of a second for a line matching $1 in the log $3 of process $4.
wait_for_line() {
  for _ in $(seq "$2"); do
    grep -q "$1" "$3" && return 0
    kill -0 "$4" 2>/dev/null || { echo "the program ended early:"; cat "$3"; exit 1; }
    sleep 0.1
  done
  return 1
}

LC_ALL=de_DE.UTF-8 "$program" >"$home/first.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 150 "$home/first.log" "$first" || fail "no main window"
[[ -s $store ]] || fail "no store at $store"
[[ -f $defaults ]] || { echo "no defaults file"; exit 1; }
[[ $(stored_currency) == "€" ]] || fail "the German locale stored the currency '$(stored_currency)', not €"

timeout 20 "$program" >"$home/second.log" 2>&1 || fail "second launch failed: $(cat "$home/second.log")"
kill -0 "$first" || { echo "the first instance ended on the second launch"; exit 1; }
grep -q 'main window shown' "$home/second.log" && fail "the second launch opened a window of its own"

# The refresh tick: one notice at about +10 s and one at about +20 s after launch.
wait_for_line 'RefreshTimerFiredNotification.* 2[0-9]\.' 240 "$home/first.log" "$first" || true
mapfile -t ticks < <(sed -n 's/.*RefreshTimerFiredNotification at \([0-9.]*\) s/\1/p' "$home/first.log")
if [[ ${#ticks[@]} -ne 2 ]]; then
  fail "expected two refresh notices within 21 s, saw ${#ticks[@]}"
else
  awk -v a="${ticks[0]}" -v b="${ticks[1]}" 'BEGIN { exit !(a >= 9.5 && a <= 11.5 && b >= 19.5 && b <= 21.5) }' ||
    fail "refresh notices at ${ticks[*]} s, not at +10 s and +20 s"
fi

kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -eq 0 ]] || fail "exit status $status on SIGTERM: $(cat "$home/first.log")"
[[ -s $store ]] || fail "store gone after quitting"

# A later run under another locale keeps the currency the first run settled.
LC_ALL=en_US.UTF-8 "$program" >"$home/third.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 150 "$home/third.log" "$first" || fail "no main window on the third run"
kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -eq 0 ]] || fail "exit status $status on SIGTERM of the third run"
[[ $(stored_currency) == "€" ]] || fail "the American locale changed the stored currency to '$(stored_currency)'"

if [[ $failed -ne 0 ]]; then
  echo "first run:"; cat "$home/first.log"
  exit 1
fi
echo "1 passed, 0 failed"
