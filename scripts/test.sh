#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine
# inside one Xvfb display. Extra arguments go to ctest (-R NAME, -V, ...).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
# One display session for the whole run (cmake/wine-run.sh owns it): one Xvfb
# and one persistent wineserver that every test joins, ended when ctest is
# done unless other runs in the prefix still use it. Tests always run on that
# display, never the caller's own.
export RAVO_BUILD_DIR=$PWD/build
exec env -u DISPLAY bash cmake/wine-run.sh --hold ctest --preset default "$@"
