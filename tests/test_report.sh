#!/usr/bin/env bash
# ravoprobe report as an administrator runs it: the text report of a small
# known trace (two processes interleaved, a reset, a failed open, a call
# that never ends), its page in a real headless Chromium, and bad input.
#   test_report.sh SOURCE_DIR BUILD_DIR [RUNNER]
set -u
src=$1 build=$2 runner=${3:-} failed=0
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
cd "$work" && cp "$src/tests/report/known.trace" .
fail() { printf 'test_report: %s\n' "$*" >&2; failed=1; }
probe() { if [ -n "$runner" ]; then RAVO_BUILD_DIR=$build timeout 120 bash "$runner" "$build/ravoprobe.exe" "$@"
          else timeout 120 "$build/ravoprobe.exe" "$@"; fi; }

out=$(probe report known.trace --html page.html 2>&1); status=$?
[ "$status" = 0 ] || fail "report known.trace: exit $status, expected 0"
# Reads of 2, 10, 1, 3 and 0.5 ms: median at rank 3 (2.000), 95th at rank 5.
while IFS= read -r pattern; do
  grep -qE -- "$pattern" <<<"$out" || fail "report known.trace: expected /$pattern/ in:"$'\n'"$out"
done <<'EOF'
^process 268: C:\\host\\host.exe through C:\\host\\ravowsok-real.dll$
^process 280: C:\\host\\other.exe
lines are interleaved .* each process is reported on its own
open 31.000 ms: opened 05:31:02.010 .* closed 05:31:02.066
_netread +5 +24,676 +16.500 +2.000 +10.000 +10.000$
05:31:02.044 +4 x _netread, 8192-byte buffer, 24,676 bytes in, 1.000-10.000 ms$
05:31:02.047 +05:31:02.057 +10.000 +connection 1 +_netread\(100, up to 8192 bytes\) = 8192
10054 +WSAECONNRESET +1 +05:31:02.064 +connection 1
the open failed after 7.609 ms: code 11304 NET_ERR_SERVICE\+WSANO_DATA
05:31:02.080 +27 +connection 2 +_netread\(104, up to 8192 bytes\) +no end line
EOF

# The page, offline, with a checker put first: the bars it draws, the hang
# marked, and any script error or blocked load.
checker='<script>var seen=[];addEventListener("error",function(e){seen.push(e.message)});
addEventListener("securitypolicyviolation",function(e){seen.push("blocked "+e.blockedURI)});
addEventListener("load",function(){var drawn=[].filter.call(document.querySelectorAll("rect.call"),
function(r){return r.getBBox().width>0}).length;document.body.insertAdjacentHTML("beforeend","<pre>found: bars="
+drawn+" hangs="+document.querySelectorAll("rect.hang").length+" problems="+seen.length+" "+seen.join("; ")+"</pre>")})</script>'
{ printf '%s\n' "$checker"; cat page.html; } >checked.html
dom=$(timeout 60 chromium --headless --disable-gpu --no-sandbox --user-data-dir="$work/profile" --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync --proxy-server=127.0.0.1:9 \
      --host-resolver-rules='MAP * ~NOTFOUND' --virtual-time-budget=5000 --dump-dom "file://$work/checked.html" 2>/dev/null)
grep -qF 'found: bars=14 hangs=1 problems=0 ' <<<"$dom" ||
  fail "the page in Chromium: expected 14 bars, 1 hang, no problem; seen: $(grep -o 'found: [^<]*' <<<"$dom")"

head -c 300 known.trace >cut.trace
: >empty.trace
printf 'MZ\0\0\220\0' >binary.trace
printf '26.901 tid 272 --- 2026-12-09 02:11:39 process 268 (Z:\\h.exe) through C:\\h\\ravowsok-real.dll\r\n' >older.trace
while IFS='|' read -r args status text; do
  out=$(probe report $args 2>&1); seen=$?
  [ "$seen" = "$status" ] && grep -qF -- "$text" <<<"$out" ||
    fail "report $args: expected exit $status and \"$text\", seen exit $seen:"$'\n'"$out"
done <<'EOF'
cut.trace|1|line 4 is cut short
empty.trace|1|is empty
binary.trace|1|binary data
missing.trace|1|cannot open the trace missing.trace
older.trace|1|the drop-in's older line format
known.trace --bogus|2|unknown option
EOF
[ "$failed" = 0 ] && echo "test_report: all passed"
exit "$failed"
