#!/usr/bin/env bash
# Builds everything, then shows the module at work under Wine: a loopback
# echo peer on the service "ravodemo", and the probe opening, sending,
# reading back, interrupting a wait, explaining a refused connection, and
# closing. Prints a transcript; exits 0 when every step went as expected.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != --inside-display ]; then
  bash scripts/install-deps.sh
  cmake --preset default >/dev/null
  cmake --build --preset default
  # Every step inside one display session of the prefix (cmake/wine-run.sh
  # owns it: it makes the prefix and ends what it started).
  export RAVO_BUILD_DIR=$PWD/build
  exec env -u DISPLAY bash cmake/wine-run.sh --hold bash scripts/demo.sh --inside-display
fi

# From here on: inside the session, with one wineserver for every step.
services=$WINEPREFIX/drive_c/windows/system32/drivers/etc/services
port=$(awk '$1 == "ravodemo" { split($2, p, "/"); print p[1] }' "$services")
log=build/demo-echo.log
failed=0

step() { printf '\n$ ravoprobe %s\n' "$*"; }
# Runs the probe and checks its exit status against the one expected.
probe() {
  local want=$1; shift
  step "$@"
  local rc=0
  bash cmake/wine-run.sh build/ravoprobe.exe "$@" || rc=$?
  if [ "$rc" != "$want" ]; then
    echo "demo: expected exit status $want from 'ravoprobe $*', got $rc" >&2
    failed=1
  fi
}

echo "== ravowsok demo: the echo peer listens on service ravodemo = 127.0.0.1:$port"
echo "   (a name from the Wine prefix's services file: the module reaches servers only by service name)"
# The peer holds each answer back 300 ms, or until an urgent byte arrives, so
# that the module's wait has turns to show and an interrupt to carry.
bash cmake/wine-run.sh build/ravoprobe.exe echo-server ravodemo --seconds 120 --delay 300 >"$log" 2>&1 &
echo_pid=$!
trap 'kill "$echo_pid" 2>/dev/null || true' EXIT
for _ in $(seq 150); do
  grep -q 'listening on' "$log" 2>/dev/null && break
  kill -0 "$echo_pid" 2>/dev/null || break
  sleep 0.2
done
if ! grep -q 'listening on' "$log"; then
  echo "demo: the echo peer did not start:" >&2
  tr -d '\r' <"$log" >&2
  exit 1
fi

probe 0 settings
probe 0 open 127.0.0.1 ravodemo
probe 0 send 127.0.0.1 ravodemo hello from the demo
probe 0 send 127.0.0.1 ravodemo please stop --interrupt-after 100
echo
echo "== a deliberate failure: nothing listens on service ravotest8"
probe 1 open 127.0.0.1 ravotest8
echo
echo "== a bare number from a host's log"
probe 0 explain 11451

# End the echo peer and show its side of the exchanges.
kill "$echo_pid" 2>/dev/null || true
wait "$echo_pid" 2>/dev/null || true
trap - EXIT
echo
echo "== the echo peer's side"
tr -d '\r' <"$log"
if ! grep -q "urgent byte 'B' received" "$log"; then
  echo "demo: the echo peer did not receive the urgent byte" >&2
  failed=1
fi
echo
if [ "$failed" != 0 ]; then
  echo "demo: FAILED (see above)"
  exit 1
fi
echo "demo: every step went as expected"
