#!/usr/bin/env bash
# Creates the private Wine prefix once: no crash dialog, and the service
# names the tests and the demo connect by.
set -u
prefix=$1
[ -f "$prefix/.ravo-ready" ] && exit 0
if [ -z "${DISPLAY:-}" ]; then
  # A wineserver started without a display leaves later programs unable to
  # create windows: make the prefix inside the prefix's display session,
  # which makes it before anything else.
  WINEPREFIX=$prefix exec bash "$(dirname "$0")/wine-run.sh" --hold true
fi
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock -w 120 9 || { echo "wine-prefix: cannot lock $prefix" >&2; exit 1; }
[ -f "$prefix/.ravo-ready" ] && exit 0
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's background processes, started here, live on after this script: they
# must not inherit the lock's descriptor, or the lock stays held for as long
# as they run and the next script that takes it (the PostgreSQL cluster's)
# waits in vain.
timeout 180 wineboot --init >/dev/null 2>&1 9>&- || { echo "wine-prefix: wineboot failed" >&2; exit 1; }
timeout 60 wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 9>&-
services="$prefix/drive_c/windows/system32/drivers/etc/services"
if [ -f "$services" ] && ! grep -q '^ravotest' "$services"; then
  # Ports for loopback peers (the module reaches servers only by service
  # name). Each prefix draws its own base so that two build trees can test
  # at the same time without taking each other's ports.
  base=$(( 20000 + (RANDOM % 400) * 100 ))
  for i in 1 2 3 4 5 6 7 8; do
    printf 'ravotest%d\t%d/tcp\r\n' "$i" $((base + i))
  done >>"$services"
  printf 'ravodemo\t%d/tcp\r\n' $((base + 99)) >>"$services"
fi
touch "$prefix/.ravo-ready"
