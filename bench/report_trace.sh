#!/usr/bin/env bash
# Writes a large trace for timing ravoprobe report, about 333,000 lines:
#   bulk       one process of ten connections, each a run of 8-byte sends
#              answered by 20 reads of 8192 bytes with their Data=1 rows, as
#              a bulk transfer traces (25 MB), ending in a read that never
#              ended
#   per-query  one process that connects for each query: 41,600 connections
#              of an open, a send, a read and a close (31 MB, no data rows)
#   bench/report_trace.sh FILE [bulk|per-query]
set -eu
file=$1 shape=${2:-bulk}
awk -v shape="$shape" 'BEGIN {
  ORS = "\r\n"; t = 1.0; wall = 5 * 3600000 + 31 * 60000
  row = "    in  0000  53 45 4c 45 43 54 20 31 53 45 4c 45 43 54 20 31  SELECTSELECT1111"
  stamp(); print s "--- trace of C:\\host\\host.exe through C:\\host\\ravowsok-real.dll"
  if (shape == "per-query") {
    for (q = 0; q < 41600; q++) {
      sock = 100 + 4 * (q % 50)
      call("_netopen(\"10.1.2.3\", \"ravotest7\", mode 0)", sock ", connected to 10.1.2.3:47107", 1.0, 0)
      call("_netsend(" sock ", 8 bytes)", "8", 0.2, 0)
      call("_netread(" sock ", up to 8192 bytes)", "100", 0.7, 0)
      call("_netclose(" sock ")", "0", 0.1, 0)
    }
    exit
  }
  rounds = 870
  for (r = 0; r < rounds; r++) {
    sock = 100 + 4 * int(r * 10 / rounds)
    if (r % int(rounds / 10) == 0) call("_netopen(\"10.1.2.3\", \"ravotest7\", mode 0)", sock ", connected to 10.1.2.3:47107", 2.5, 0)
    call("_netsend(" sock ", 8 bytes)", "8", 0.2, 1)
    for (i = 0; i < 20; i++) call("_netread(" sock ", up to 8192 bytes)", "8192", 1.2 + (i * 7 + r) % 30 / 10, 16)
    if ((r + 1) % int(rounds / 10) == 0 && r + 1 < rounds) call("_netclose(" sock ")", "0", 0.3, 0)
  }
  stamp(); print s "> _netread(" sock ", up to 8192 bytes)"
}
function stamp(  ms) {
  ms = wall + int(t)
  s = sprintf("2026-12-09 %02d:%02d:%02d.%03d pid 268 tid 272 +%.3f ", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000, t)
}
function call(what, result, ms, rows,  j) {
  stamp(); print s "> " what; t += ms
  stamp(); print s "< " what " = " result ", " sprintf("%.3f", ms) " ms"
  for (j = 0; j < rows; j++) print row
  if (rows == 16) print "    ... 7936 more bytes not shown (DataBytes=256)"
  t += 0.05
}' >"$file"
