#!/usr/bin/env bash
# The crash kit inside the program, on the offscreen platform with a fresh home and loopback reports
# services: a launch creates its report directory with "metadata.bbxrecord" and removes the launch marker
# within a second; `kill -SEGV` leaves "signal.bbxrecord" and the program dies by SIGSEGV; the next
# launch packages that report and, pointed at a plain http service, connects nowhere and says so once,
# naming the URL; a third, pointed at an https service whose root the program does not pin, sends
# nothing past the handshake. The package waits in "prepared" and "active" holds only the last launch.
# (Uploads that go through are checked against pinned test roots in the kits' tests.)
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

# Launch 2, at a plain http service: nothing connected, one line naming the URL, the package kept.
refusal="[Keystone] Refused to connect to \"http://127.0.0.1:$port/sdk-api/v1/platforms/mac/apps/org.horavine.Horavine/reports\""
"$program" >"$home/second.log" 2>&1 &
second=$!
pids+=("$second")
for _ in $(seq 300); do
  grep -qF "$refusal" "$home/second.log" && break
  kill -0 "$second" 2>/dev/null || { echo "launch 2 ended early:"; cat "$home/second.log"; exit 1; }
  sleep 0.1
done
grep -qF "$refusal" "$home/second.log" || fail "launch 2 did not refuse the http service: $(cat "$home/second.log")"
sleep 1
[[ $(grep -cF "$refusal" "$home/second.log") -eq 1 ]] || fail "launch 2 refused $(grep -cF "$refusal" "$home/second.log") times"
[[ $(posts) -eq 0 ]] || fail "launch 2 posted $(posts) reports over http"
grep -q '^plain ' "$home/server.out" && fail "the http service heard: $(grep '^plain ' "$home/server.out")"
prepared() { find "$root/prepared" -mindepth 1 -maxdepth 1 -name '*.multipartmime' 2>/dev/null | wc -l; }
[[ $(prepared) -eq 1 ]] || fail "prepared holds $(prepared) packages after launch 2"
[[ -z $(find "$root/processing" -mindepth 1 2>/dev/null) ]] || fail "left in processing: $(find "$root/processing" -mindepth 1)"
remaining=$(launch_directories)
[[ $(echo "$remaining" | wc -l) -eq 1 && $remaining != "$directory" ]] ||
  fail "active holds '$remaining' after launch 2"
kill -TERM "$second"
status=0
wait "$second" || status=$?
[[ $status -eq 0 ]] || fail "launch 2 ended with status $status"

# Launch 3, at an https service under a root the program does not pin: refused in the handshake.
mkdir -p "$home/certificates"
"$tool" serve --tls "$home/certificates" --life-ms 120000 --status 200 --content-type application/json --body '{}' \
  >"$home/tls.out" &
pids+=($!)
for _ in $(seq 100); do grep -q '^port ' "$home/tls.out" 2>/dev/null && break; sleep 0.1; done
tls_port=$(sed -n 's/^port //p' "$home/tls.out")
[[ -n $tls_port ]] || { echo "the https loopback server did not start"; exit 1; }
export BlackboxReportsEndpoint=https://127.0.0.1:$tls_port
"$program" >"$home/third.log" 2>&1 &
third=$!
pids+=("$third")
refused_by_trust() {
  grep -qs "Error: failed to submit report .*Code=-1202 \"the server's certificate does not chain to a trusted root\"" \
    "$root"/active/*/sdk.log
}
for _ in $(seq 300); do
  refused_by_trust && break
  kill -0 "$third" 2>/dev/null || { echo "launch 3 ended early:"; cat "$home/third.log"; exit 1; }
  sleep 0.1
done
refused_by_trust || fail "launch 3 did not refuse the unpinned server: $(cat "$home/third.log")"
grep -q '^tls ' "$home/tls.out" && fail "the unpinned https service heard: $(grep '^tls ' "$home/tls.out")"
[[ $(prepared) -eq 1 ]] || fail "prepared holds $(prepared) packages after launch 3"
kill -TERM "$third"
status=0
wait "$third" || status=$?
[[ $status -eq 0 ]] || fail "launch 3 ended with status $status"

[[ $failed -eq 0 ]] && echo "crash kit end to end: all checks passed"
exit "$failed"
