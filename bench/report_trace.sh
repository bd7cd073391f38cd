#!/usr/bin/env bash
# Writes a large trace for timing ravoprobe report, about 333,000 lines, with
# build/reporttrace.exe (bench/report_trace.cpp), which writes every line
# with the drop-in's own grammar:
#   bulk       one process of ten connections, each a run of 8-byte sends
#              answered by 20 reads of 8192 bytes with their Data=1 rows, as
#              a bulk transfer traces (27 MB), ending in a read that never
#              ended
#   per-query  one process that connects for each query: 37,000 connections
#              of an open, a send, a read and a close with its summary (31
#              MB, no data rows)
#   bench/report_trace.sh FILE [bulk|per-query]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${RAVO_BUILD_DIR:-$here/../build}
file=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
RAVO_BUILD_DIR=$build bash "$here/../cmake/wine-run.sh" "$build/reporttrace.exe" "Z:${file//\//\\}" "${2:-bulk}"
