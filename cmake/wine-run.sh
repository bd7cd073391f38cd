#!/usr/bin/env bash
# Runs a 32-bit Windows program under Wine in the build tree's private prefix.
# The prefix lives in <build>/wineprefix, where <build> is the folder of the
# program (or RAVO_BUILD_DIR). Without an X display the program runs inside
# its own Xvfb, since Wine cannot create windows without one.
set -u
exe=$1; shift
build=${RAVO_BUILD_DIR:-$(cd "$(dirname "$exe")" && pwd)}
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
here=$(cd "$(dirname "$0")" && pwd)

if [ -z "${DISPLAY:-}" ]; then
  # One Xvfb and one wineserver for this run; the server goes with the display.
  exec xvfb-run -a bash -c '"$0" "$@"; rc=$?; wineserver -k 2>/dev/null; exit $rc' "$0" "$exe" "$@"
fi
bash "$here/wine-prefix.sh" "$WINEPREFIX" || exit 1
# The first Wine program of a session starts Wine's own background processes,
# which would inherit our output pipe and keep a caller such as ctest waiting
# for its end: start them here with no pipe (a no-op when they already run).
wine cmd /c exit </dev/null >/dev/null 2>&1
# Wine prints console output with CR LF; callers read plain lines.
wine "$exe" "$@" | tr -d '\r'
exit "${PIPESTATUS[0]}"
