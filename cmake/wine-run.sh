#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine in the build tree's private prefix.
#
#   wine-run.sh PROGRAM.exe ARGS...   run the program (CTest's emulator)
#   wine-run.sh --hold COMMAND ARGS...
#                                     run a plain command (ctest, a script)
#                                     inside the prefix's session, so every
#                                     Wine program it starts shares it
#
# The prefix lives in <build>/wineprefix, where <build> is the folder of the
# program (or RAVO_BUILD_DIR, or WINEPREFIX names it).
#
# With an X display of the caller's own, programs run on it and nothing is
# started or ended here. Without one, Wine still needs a display to create
# windows, and the display and the Wine server must stay together: Wine's
# desktop process stays tied to the display the server first saw, and a
# program that starts just as an idle server shuts down can hang. So runs in
# one prefix share one session: the first run starts an Xvfb and a persistent
# wineserver and records them in the prefix, overlapping runs join it, and
# the last run to leave ends both. Members are recorded by process id, so a
# run that was killed is dropped by the next one, and a session whose
# members are all gone is reused or ended by the next run. The records
# change only under a lock, so joins and leaves cannot cross.
set -u
here=$(cd "$(dirname "$0")" && pwd)
hold=0
if [ "${1:-}" = --hold ]; then
  hold=1; shift
  [ $# -gt 0 ] || { echo "usage: wine-run.sh --hold COMMAND [ARGS...]" >&2; exit 2; }
  build=${RAVO_BUILD_DIR:-$PWD/build}
else
  [ $# -gt 0 ] || { echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2; exit 2; }
  build=${RAVO_BUILD_DIR:-$(cd "$(dirname "$1")" && pwd)}
fi
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

session=$WINEPREFIX/.ravo-session  # display, xvfb.pid, members
lock=$WINEPREFIX/.ravo-session.lock
LOCK_WAIT_S=120  # a join may wait for another run's session start
START_WAIT_S=20  # Xvfb reports its display, or the start failed

# A process that has ended but is not yet reaped counts as gone.
alive() { [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null && ! grep -q ') Z' "/proc/$1/stat" 2>/dev/null; }

# Keeps the members that still run; prints how many are left.
prune_members() {
  local pid left=0
  : >"$session/members.new"
  if [ -f "$session/members" ]; then
    while read -r pid; do
      if alive "$pid"; then echo "$pid" >>"$session/members.new"; left=$((left + 1)); fi
    done <"$session/members"
  fi
  mv "$session/members.new" "$session/members"
  echo "$left"
}

# True when the recorded Xvfb still runs.
session_live() {
  [ -s "$session/display" ] && alive "$(cat "$session/xvfb.pid" 2>/dev/null)"
}

# Ends the recorded session: the prefix's server (ours: only a session
# starts one while no other runs) and then the display it was tied to.
end_session() {
  wineserver -k 2>/dev/null
  local xvfb
  xvfb=$(cat "$session/xvfb.pid" 2>/dev/null)
  alive "$xvfb" && kill "$xvfb" 2>/dev/null
  rm -f "$session/display" "$session/xvfb.pid" "$session/members"
}

# Starts Xvfb on a free display (it picks one and reports it when ready) and
# a persistent wineserver, both in sessions of their own, off our pipes.
start_session() {
  # A server that someone else started in this prefix may be tied to another
  # display; an idle one ends within seconds by itself.
  if ! timeout 15 wineserver -w 2>/dev/null; then
    echo "wine-run: another Wine server runs in $WINEPREFIX; end its programs (or run" \
         "'WINEPREFIX=$WINEPREFIX wineserver -k') and try again" >&2
    return 1
  fi
  : >"$session/display"
  setsid Xvfb -displayfd 5 -nolisten tcp -screen 0 1280x1024x24 \
    5>"$session/display" </dev/null >"$session/xvfb.log" 2>&1 9>&- &
  echo $! >"$session/xvfb.pid"
  local tries=$((START_WAIT_S * 10))
  while [ ! -s "$session/display" ] && alive "$!" && [ $tries -gt 0 ]; do
    sleep 0.1; tries=$((tries - 1))
  done
  if ! grep -q '[0-9]' "$session/display"; then
    echo "wine-run: Xvfb did not start:" >&2
    cat "$session/xvfb.log" >&2
    end_session
    return 1
  fi
  DISPLAY=:$(tr -dc 0-9 <"$session/display") setsid wineserver -p </dev/null >/dev/null 2>&1 9>&-
}

# Joins the prefix's session, starting it when none runs; sets DISPLAY.
join_session() {
  mkdir -p "$session"
  exec 9>"$lock"
  flock -w "$LOCK_WAIT_S" 9 || { echo "wine-run: cannot lock $lock" >&2; exit 1; }
  local left
  left=$(prune_members)
  if ! session_live; then
    # A recorded session whose display is gone was ours: end its server.
    if [ -f "$session/xvfb.pid" ]; then
      [ "$left" = 0 ] || echo "wine-run: the session's display is gone; starting a new one" >&2
      end_session
    fi
    start_session || exit 1
  fi
  echo $$ >>"$session/members"
  exec 9>&-
  DISPLAY=:$(tr -dc 0-9 <"$session/display")
  export DISPLAY
  trap leave_session EXIT
  trap 'exit 129' HUP
  trap 'exit 130' INT
  trap 'exit 143' TERM
}

# Leaves the session; the last member out ends it.
leave_session() {
  exec 9>"$lock"
  flock -w "$LOCK_WAIT_S" 9 || return
  sed -i "/^$$\$/d" "$session/members" 2>/dev/null
  [ "$(prune_members)" = 0 ] && end_session
  exec 9>&-
}

# A display of the caller's own is used as it is; the session's own display
# (a run inside a held session) counts as the caller's too.
[ -n "${DISPLAY:-}" ] || join_session

bash "$here/wine-prefix.sh" "$WINEPREFIX" || exit 1
# The program runs in the background so that a signal to this script reaches
# it at once: bash runs a trap only after a foreground command ends, and an
# orphaned program would live on while other runs hold the session. Its
# input is kept on descriptor 3 past the background start.
exec 3<&0
if [ $hold = 1 ]; then
  "$@" <&3 3<&- &
else
  # The first Wine program of a session starts Wine's own background
  # processes, which would inherit our output pipe and keep a caller such as
  # ctest waiting for its end: start them here with no pipe (a no-op when
  # they already run).
  wine cmd /c exit </dev/null >/dev/null 2>&1
  # Wine prints console output with CR LF; callers read plain lines, each as
  # soon as it is printed (a log watched for a line must not wait on a buffer).
  wine "$@" <&3 3<&- > >(sed -u 's/\r$//') &
fi
program=$!
exec 3<&-
for signal in HUP INT TERM; do
  trap 'kill -'$signal' $program 2>/dev/null; wait $program; exit '$((128 + $(kill -l $signal))) $signal
done
wait $program
exit $?
