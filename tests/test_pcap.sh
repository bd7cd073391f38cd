#!/usr/bin/env bash
# ravoprobe report --pcap read by tshark: test_postgres's short session through
# the drop-in with Data=1, in full and cut (DataBytes=16): no malformed frame,
# TCP analysis flag or bad checksum, the bytes each way of the trace's summary,
# the query in PostgreSQL's dissector beside its trace line; and bad input.
#   test_pcap.sh BUILD_DIR RUNNER
set -u
build=$1 runner=$2 failed=0
work=$(mktemp -d)
ini=$build/wineprefix/drive_c/windows/quorvane.ini
[ -f "$ini" ] && cp "$ini" "$work/saved.ini"
cleanup() { if [ -f "$work/saved.ini" ]; then cp "$work/saved.ini" "$ini"; else rm -f "$ini"; fi; rm -rf "$work"; }
trap cleanup EXIT
cd "$work" && export HOME=$work  # tshark's settings and warnings stay here
fail() { printf 'test_pcap: %s\n' "$*" >&2; failed=1; }
run() { RAVO_BUILD_DIR=$build timeout 120 bash "$runner" "$@"; }
# tshark's answer, or a line that no check takes for one.
shark() { tshark -r pg.pcapng -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE "$@" 2>shark.err ||
          echo "tshark failed: $(grep -v 'as user "root"' shark.err)"; }

for bytes in 100000000 16; do
  printf '[Trace]\r\nDataBytes=%s\r\n' "$bytes" >"$ini"  # the test adds File and Data=1
  RAVO_VIA_TRACE=1 run "$build/test_postgres.exe" a_short_session >session.log || fail "session: $(<session.log)"
  cp "$build/test_postgres.exe.trace" pg.trace
  out=$(run "$build/ravoprobe.exe" report pg.trace --pcap pg.pcapng 2>&1) || fail "DataBytes=$bytes: exit $?: $out"
  grep -q '^capture pg.pcapng: 1 TCP stream ' <<<"$out" || fail "DataBytes=$bytes: the account: $out"
  flagged=$(shark -Y '_ws.malformed || tcp.analysis.flags || tcp.checksum.status == 0 || ip.checksum.status == 0')
  [ -z "$flagged" ] || fail "DataBytes=$bytes: frames flagged by tshark:"$'\n'"$flagged"
  port=$(grep -m1 -oE 'connected to 127\.0\.0\.1:[0-9]+' pg.trace | cut -d: -f2)
  summed=$(grep -oE '[0-9]+ bytes out; .* [0-9]+ bytes in' pg.trace | grep -oE '[0-9]+ bytes' | tr -dc '0-9 ')
  seen=$(shark -T fields -e tcp.dstport -e tcp.len | awk -v p="$port" '$1 == p { o += $2; next } { i += $2 }
         END { printf "%d %d ", o, i }')
  [ "$seen" = "$summed" ] || fail "DataBytes=$bytes: bytes out and in: the summary says $summed, tshark $seen"
  cut=$(shark -Y 'frame.cap_len < frame.len' | wc -l)
  [ $((cut > 2)) = $((bytes == 16)) ] || fail "DataBytes=$bytes: $cut frames cut"
  query=$(shark -d "tcp.port==$port,pgsql" -Y pgsql.query -T fields -e pgsql.query -e frame.comment)
  [ "$bytes" = 16 ] || grep -qE "^SET application_name = 'traced by ravotrace'	line [0-9]+: _netsend\(" <<<"$query" ||
    fail "the query and its trace line in tshark: expected SET application_name, seen: $query"
done

# Bad input: refused (exit 1 or 2), said why, an existing capture kept as it was, nothing left behind.
grep -v '^    ' pg.trace >nodata.trace
mkdir folder && cp pg.pcapng kept.pcapng
before=$(ls; md5sum kept.pcapng)
while IFS='|' read -r args status text; do
  out=$(run "$build/ravoprobe.exe" report $args 2>&1); seen=$?
  [ "$seen" = "$status" ] && grep -qF -- "$text" <<<"$out" ||
    fail "report $args: expected exit $status and \"$text\", seen exit $seen:"$'\n'"$out"
  [ "$(ls; md5sum kept.pcapng)" = "$before" ] || fail "report $args: files changed:"$'\n'"$(ls)"
done <<'EOF'
nodata.trace --pcap kept.pcapng|1|again with [Trace] Data=1 (and DataBytes
missing.trace --pcap kept.pcapng|1|cannot open the trace missing.trace
pg.trace --pcap no-such-folder/x.pcapng|1|cannot write the capture no-such-folder/x.pcapng
pg.trace --pcap folder|1|cannot put the capture in place of folder
pg.trace --pcap pg.trace|1|would replace the trace
pg.trace --pcap kept.pcapng --html page.html|2|one at a time
EOF
[ "$failed" = 0 ] && echo "test_pcap: all passed"
exit "$failed"
