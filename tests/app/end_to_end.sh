#!/usr/bin/env bash
# Starts the program under Xvfb with a fresh home: it must create the store and the defaults, settle
# the currency from a German locale, hand a second launch over to itself (the second exits 0, also
# through a symbolic link to the store's folder, and the first raises its window), post
# the refresh notice at +10 s and +20 s, and exit 0 on SIGTERM with the store saved; later runs
# under an American locale keep the stored currency and quit on SIGHUP and SIGINT; a store file
# removed while the program runs is written anew at quit, one replaced is never written over (a
# change made after it, through xdotool, goes to a recovery file and the exit status is not 0); a
# store that cannot be opened is left as it was.
# Usage: end_to_end.sh path/to/horavine   (run inside xvfb-run)
set -euo pipefail
program=$1
source "$(dirname "$0")/fresh_home.sh"
first=
stop_programs() { [[ -n $first ]] && kill -TERM "$first" 2>/dev/null || true; }
unset LANG LANGUAGE LC_MONETARY
export HORAVINE_LOG_REFRESH=1 HORAVINE_REPORT_STARTUP=1
store=$home/Documents/Projects.horavine
defaults=$home/.config/horavine/defaults.json

# The currency as stored in the defaults file (nlohmann writes UTF-8 as is).
stored_currency() {
  sed -n 's/.*"defaultProjectHourlyRateCurrency": *"\([^"]*\)".*/\1/p' "$defaults"
}

LC_ALL=de_DE.UTF-8 "$program" >"$home/first.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 600 "$home/first.log" "$first" || fail "no main window"
[[ -s $store ]] || fail "no store at $store"
[[ -f $defaults ]] || { echo "no defaults file"; exit 1; }
[[ $(stored_currency) == "€" ]] || fail "the German locale stored the currency '$(stored_currency)', not €"

# The second launch hands over before it writes anything: its own settings folders stay empty.
mkdir -p "$home/second"/{config,cache,data}
XDG_CONFIG_HOME=$home/second/config XDG_CACHE_HOME=$home/second/cache XDG_DATA_HOME=$home/second/data \
  timeout 60 "$program" >"$home/second.log" 2>&1 || fail "second launch failed: $(cat "$home/second.log")"
[[ -z $(find "$home/second" -mindepth 2) ]] || fail "the second launch wrote $(find "$home/second" -mindepth 2)"
kill -0 "$first" || { echo "the first instance ended on the second launch"; exit 1; }
grep -q 'main window shown' "$home/second.log" && fail "the second launch opened a window of its own"
wait_for_line 'raised for another launch' 50 "$home/first.log" "$first" || fail "the second launch did not raise the window"

# A launch through a symbolic link to the same folder reaches the same instance.
ln -s "$home/Documents" "$home/linked-documents"
XDG_DOCUMENTS_DIR=$home/linked-documents timeout 60 "$program" >"$home/linked.log" 2>&1 ||
  fail "the launch through a link failed: $(cat "$home/linked.log")"
for _ in $(seq 50); do
  [[ $(grep -c 'raised for another launch' "$home/first.log") -ge 2 ]] && break
  sleep 0.1
done
[[ $(grep -c 'raised for another launch' "$home/first.log") -eq 2 ]] ||
  fail "the launch through a link did not raise the running window"

# The refresh tick: a notice about 10 s after launch and another 10 s later. A loaded machine may
# start the program late, so the first tick may come a little after +10 s; the spacing is checked
# tightly.
for _ in $(seq 400); do
  [[ $(grep -c 'RefreshTimerFiredNotification at' "$home/first.log") -ge 2 ]] && break
  kill -0 "$first" 2>/dev/null || { echo "the program ended early:"; cat "$home/first.log"; exit 1; }
  sleep 0.1
done
mapfile -t ticks < <(sed -n 's/.*RefreshTimerFiredNotification at \([0-9.]*\) s/\1/p' "$home/first.log")
if [[ ${#ticks[@]} -lt 2 ]]; then
  fail "expected two refresh notices, saw ${#ticks[@]}"
else
  awk -v a="${ticks[0]}" -v b="${ticks[1]}" 'BEGIN { exit !(a >= 9.5 && a <= 16 && b - a >= 9.5 && b - a <= 11) }' ||
    fail "refresh notices at ${ticks[*]} s, not at +10 s and 10 s later"
fi

kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -eq 0 ]] || fail "exit status $status on SIGTERM: $(cat "$home/first.log")"
[[ -s $store ]] || fail "store gone after quitting"

# Later runs under another locale keep the currency the first run settled; SIGHUP and SIGINT quit
# as SIGTERM does.
for signal in HUP INT; do
  LC_ALL=en_US.UTF-8 "$program" >"$home/later.log" 2>&1 &
  first=$!
  wait_for_line 'main window shown' 600 "$home/later.log" "$first" || fail "no main window on a later run"
  kill -"$signal" "$first"
  status=0
  wait "$first" || status=$?
  first=
  [[ $status -eq 0 ]] || fail "exit status $status on SIG$signal"
done
[[ $(stored_currency) == "€" ]] || fail "the American locale changed the stored currency to '$(stored_currency)'"

# The store's identifier, as text in the file (URIs of its objects carry it).
store_identifier() {
  grep -aoE '[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}' "$1" | head -1
}

# The store file removed while the program runs: quitting writes it anew from memory, under the
# same identifier, and says so.
identifier=$(store_identifier "$store")
[[ -n $identifier ]] || fail "no store identifier found in $store"
"$program" >"$home/removed.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 600 "$home/removed.log" "$first" || fail "no main window for the removal run"
rm "$store"
kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -eq 0 ]] || fail "exit status $status after the store file was removed: $(cat "$home/removed.log")"
[[ -s $store ]] || fail "the removed store was not written anew"
[[ -s $store && $(store_identifier "$store") == "$identifier" ]] || fail "the store came back under another identifier"
grep -q 'was removed' "$home/removed.log" || fail "the removal was not reported"

# The store file replaced while the program runs (what a sync tool does): the other file is never
# written over.
"$program" >"$home/replaced.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 600 "$home/replaced.log" "$first" || fail "no main window for the replacement run"
cp "$store" "$home/incoming.horavine"
printf 'their bytes' >>"$home/incoming.horavine"
mv "$home/incoming.horavine" "$store"
checksum=$(cksum <"$store")
kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -eq 0 ]] || fail "exit status $status after the store file was replaced without unsaved changes"
[[ $(cksum <"$store") == "$checksum" ]] || fail "the replacing file was written over"

# Replaced, and then a change made in the window (Ctrl+N, a new project): the change goes to a
# recovery file, the replacing file stays as it is, and SIGTERM ends with a failing status.
"$program" >"$home/replaced-change.log" 2>&1 &
first=$!
wait_for_line 'main window shown' 600 "$home/replaced-change.log" "$first" || fail "no main window for the change run"
cp "$store" "$home/incoming.horavine"
mv "$home/incoming.horavine" "$store"
checksum=$(cksum <"$store")
window=$(xdotool search --sync --onlyvisible --name '^Horavine' | head -1)
xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers ctrl+n
wait_for_line 'was replaced by another file' 100 "$home/replaced-change.log" "$first" ||
  fail "the new project did not meet the replaced store"
kill -TERM "$first"
status=0
wait "$first" || status=$?
first=
[[ $status -ne 0 ]] || fail "exit status 0 although the change could not be saved to the store"
[[ $(cksum <"$store") == "$checksum" ]] || fail "the replacing file was written over"
recovery=$(find "$home/.local/share/horavine" -name 'Recovered *.horavine' 2>/dev/null | head -1)
[[ -n $recovery ]] || fail "no recovery file"
[[ -n $recovery ]] && { grep -aq 'New project' "$recovery" || fail "the recovery file lacks the new project"; }
grep -q "everything Horavine had open is in $recovery" "$home/replaced-change.log" ||
  fail "no line names the recovery file: $(cat "$home/replaced-change.log")"

# A store that cannot be opened: the program says so, writes nothing, and a signal still ends it
# while its alert is up.
bad=$home/bad
mkdir -p "$bad/Documents"
head -c 8192 /dev/urandom >"$bad/Documents/Projects.horavine"
checksum=$(cksum <"$bad/Documents/Projects.horavine")
HOME=$bad "$program" >"$home/bad.log" 2>&1 &
first=$!
wait_for_line 'cannot be opened' 600 "$home/bad.log" "$first" || fail "no message about the unreadable store"
sleep 0.5
kill -TERM "$first"
for _ in $(seq 50); do kill -0 "$first" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$first" 2>/dev/null; then
  fail "SIGTERM did not end the program while it showed the alert"
  kill -KILL "$first"
fi
wait "$first" || true
first=
[[ $(cksum <"$bad/Documents/Projects.horavine") == "$checksum" ]] || fail "the unreadable store was changed"
for folder in .config .cache .local; do
  [[ ! -e $bad/$folder ]] || fail "the failed start wrote $bad/$folder"
done

if [[ $failed -ne 0 ]]; then
  echo "first run:"; cat "$home/first.log"
  exit 1
fi
echo "1 passed, 0 failed"
