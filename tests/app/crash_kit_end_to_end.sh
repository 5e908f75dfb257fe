#!/usr/bin/env bash
# The crash kit inside the program, on the offscreen platform with a fresh home and a loopback reports
# service: a launch creates its report directory with "metadata.bbxrecord" and removes the launch marker
# within a second; `kill -SEGV` leaves "signal.bbxrecord" and the program dies by SIGSEGV; the next
# launch uploads that report (one POST) and afterwards "processing" and "prepared" are empty and
# "active" holds only the new launch.
# Usage: crash_kit_end_to_end.sh path/to/horavine path/to/loopback_tool
set -euo pipefail
program=$1
tool=$2
source "$(dirname "$0")/fresh_home.sh"
pids=()
stop_programs() { for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done; }
export QT_QPA_PLATFORM=offscreen
unset KeystoneSettingsEndpoint
# In a sanitizer build the sanitizer must leave SIGSEGV to the crash kit, which the check is about.
export ASAN_OPTIONS=$ASAN_OPTIONS:handle_segv=0

"$tool" serve --life-ms 120000 --status 200 --content-type application/json --body '{}' >"$home/server.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^port ' "$home/server.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$home/server.out")
[[ -n $port ]] || { echo "the loopback server did not start"; exit 1; }
export BlackboxReportsEndpoint=http://127.0.0.1:$port
posts() { grep -c 'POST /sdk-api/v1/platforms/mac/apps/org.horavine.Horavine/reports ' "$home/server.out" || true; }

root=$home/.cache/horavine/com.faultmere.data/org.horavine.Horavine/v3
launch_directories() { find "$root/active" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | sort; }

# Launch 1: its directory with metadata appears; the marker is gone within a second of that.
"$program" >"$home/first.log" 2>&1 &
first=$!
pids+=("$first")
for _ in $(seq 300); do
  [[ -n $(launch_directories) && -f $(launch_directories | head -1)/metadata.bbxrecord ]] && break
  kill -0 "$first" 2>/dev/null || { echo "launch 1 ended early:"; cat "$home/first.log"; exit 1; }
  sleep 0.05
done
directory=$(launch_directories | head -1)
[[ -n $directory && -f $directory/metadata.bbxrecord ]] || { echo "no launch directory:"; cat "$home/first.log"; exit 1; }
[[ $(launch_directories | wc -l) -eq 1 ]] || fail "launch 1 made $(launch_directories | wc -l) directories"
for _ in $(seq 20); do
  [[ -e $root/launchmarker ]] || break
  sleep 0.05
done
[[ -e $root/launchmarker ]] && fail "the launch marker is still there a second after the launch directory"

kill -SEGV "$first"
status=0
wait "$first" || status=$?
[[ $status -eq $((128 + 11)) ]] || fail "launch 1 ended with status $status, not by SIGSEGV"
[[ -s $directory/signal.bbxrecord ]] || fail "no signal.bbxrecord in $directory"
[[ $(posts) -eq 0 ]] || fail "launch 1 posted a report"
cp -r "$directory" "$home/launch1"

# Launch 2: one POST of launch 1's report, then nothing left but its own directory.
"$program" >"$home/second.log" 2>&1 &
second=$!
pids+=("$second")
for _ in $(seq 300); do
  [[ $(posts) -ge 1 ]] && break
  kill -0 "$second" 2>/dev/null || { echo "launch 2 ended early:"; cat "$home/second.log"; exit 1; }
  sleep 0.1
done
[[ $(posts) -ge 1 ]] || fail "launch 2 uploaded nothing: $(cat "$home/second.log")"
sleep 1
[[ $(posts) -eq 1 ]] || fail "launch 2 posted $(posts) reports"
[[ -z $(find "$root/processing" "$root/prepared" -mindepth 1 2>/dev/null) ]] ||
  fail "left behind: $(find "$root/processing" "$root/prepared" -mindepth 1)"
remaining=$(launch_directories)
[[ $(echo "$remaining" | wc -l) -eq 1 && $remaining != "$directory" ]] ||
  fail "active holds '$remaining' after launch 2"
kill -TERM "$second"
status=0
wait "$second" || status=$?
[[ $status -eq 0 ]] || fail "launch 2 ended with status $status"

[[ $failed -eq 0 ]] && echo "crash kit end to end: all checks passed"
exit "$failed"
