#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine
# inside one Xvfb display. Extra arguments go to ctest (-R NAME, -V, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
export WINEPREFIX=$PWD/build/wineprefix
# A server left from another display could not create windows for us.
wineserver -k 2>/dev/null || true
# One persistent wineserver for the whole run: a test program that starts
# just as an idle server shuts itself down can hang at start.
xvfb-run -a bash -c 'wineserver -p; ctest --preset default "$@"; rc=$?; wineserver -k 2>/dev/null; exit $rc' ctest "$@"
