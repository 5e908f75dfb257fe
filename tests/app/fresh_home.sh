# Sourced by the program-level checks: a fresh home for the program, removed on exit, and the helpers
# they share. A check that leaves a program running defines stop_programs() to end it on exit.
home=$(mktemp -d)
cleanup() {
  if declare -F stop_programs >/dev/null; then stop_programs; fi
  rm -rf "$home"
}
trap cleanup EXIT
export HOME=$home
unset XDG_DOCUMENTS_DIR XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
# The private folder a desktop session gives its user; the instance sockets live there.
export XDG_RUNTIME_DIR=$home/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
# The program is checked for behaviour here; leak checks of the desktop libraries belong elsewhere.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# Waits up to $2 tenths of a second for a line matching $1 in the log $3 of process $4.
wait_for_line() {
  for _ in $(seq "$2"); do
    grep -q "$1" "$3" && return 0
    kill -0 "$4" 2>/dev/null || { echo "the program ended early:"; cat "$3"; exit 1; }
    sleep 0.1
  done
  return 1
}
