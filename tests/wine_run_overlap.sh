#!/usr/bin/env bash
# Two runs of cmake/wine-run.sh overlapping in one prefix, as an administrator
# runs them from two terminals without a display: an echo peer started
# through it outlives a probe run through it, and answers a second probe.
# When no session ran before, the last run out ends the session's display
# and Wine server. Every wait is bounded; only what it started is ended.
set -u
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export RAVO_BUILD_DIR=$build
unset DISPLAY
session=${WINEPREFIX:-$build/wineprefix}/.ravo-session
wrapper=$here/../cmake/wine-run.sh
run() { timeout 120 bash "$wrapper" "$build/ravoprobe.exe" "$@"; }
log=$(mktemp)
status=0
fail() { echo "wine-run overlap: $*" >&2; status=1; }

session_running() {
  [ -s "$session/display" ] && kill -0 "$(cat "$session/xvfb.pid" 2>/dev/null)" 2>/dev/null
}
session_running && before=1 || before=0

# The peer bounds its own life; it is ended sooner below.
bash "$wrapper" "$build/ravoprobe.exe" echo-server ravotest4 --seconds 60 >"$log" 2>&1 &
echo_run=$!
for _ in $(seq 300); do
  grep -q 'listening on' "$log" && break
  kill -0 "$echo_run" 2>/dev/null || break
  sleep 0.1
done
grep -q 'listening on' "$log" || fail "the echo peer did not start"

if [ $status = 0 ]; then
  out=$(run send 127.0.0.1 ravotest4 first) || fail "the first probe failed: $out"
  kill -0 "$echo_run" 2>/dev/null || fail "the echo peer ended with the first probe"
  out=$(run send 127.0.0.1 ravotest4 second) || fail "the echo peer did not answer the second probe: $out"
  [ "$(grep -c 'echoed' "$log")" = 2 ] || fail "expected the echo peer to answer twice"
fi

# The process ids whose parent is $1 (from /proc: procps may be missing).
children_of() {
  local stat
  for stat in /proc/[0-9]*/stat; do
    [ "$(sed 's/.*) . \([0-9]*\) .*/\1/' "$stat" 2>/dev/null)" = "$1" ] && basename "$(dirname "$stat")"
  done
}

# End the echo peer's program (the wrapper's child, beside the sed that
# strips its CRs); the wrapper then leaves the session.
for pid in $(children_of "$echo_run"); do
  [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = sed ] || kill "$pid" 2>/dev/null
done
for _ in $(seq 300); do kill -0 "$echo_run" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$echo_run" 2>/dev/null; then
  fail "the echo peer's run did not end"
  kill "$echo_run" 2>/dev/null
fi
wait "$echo_run" 2>/dev/null

if [ "$before" = 0 ]; then
  for _ in $(seq 100); do session_running || break; sleep 0.1; done
  session_running && fail "the last run out left the session's display running"
  [ -s "$session/members" ] && fail "members left after the last run: $(cat "$session/members")"
fi
[ $status = 0 ] || { echo "the echo peer's output:" >&2; cat "$log" >&2; }
rm -f "$log"
[ $status = 0 ] && echo "wine-run overlap: the echo peer outlived a probe and answered another"
exit $status
