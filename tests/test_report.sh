#!/usr/bin/env bash
# ravoprobe report as an administrator runs it, on traces the drop-in wrote:
# probes through build/viatrace against an echo peer that answers on the
# urgent byte (round trips with Data=1 rows and their summary, a refused
# open, an unknown service, a read copied while it waits, a MaxSizeMB stop),
# the text read back against the trace, the page in a real headless
# Chromium, and what no run makes (tests/report/known.trace: two processes
# interleaved, the older format, a cut line) and other bad input.
#   test_report.sh SOURCE_DIR BUILD_DIR [RUNNER]
set -u
src=$1 build=$2 runner=${3:-} failed=0
work=$(mktemp -d)
ini=${RAVO_WINDIR:-$build/wineprefix/drive_c/windows}/quorvane.ini
[ -f "$ini" ] && cp "$ini" "$work/saved.ini"
cleanup() { if [ -f "$work/saved.ini" ]; then cp "$work/saved.ini" "$ini"; else rm -f "$ini"; fi; rm -rf "$work"; }
trap cleanup EXIT
cd "$work" && cp "$src/tests/report/known.trace" .
fail() { printf 'test_report: %s\n' "$*" >&2; failed=1; }
run() { if [ -n "$runner" ]; then RAVO_BUILD_DIR=$build exec timeout 120 bash "$runner" "$build/ravoprobe.exe" "$@"
        else exec timeout 120 "$build/ravoprobe.exe" "$@"; fi; }
probe() { (run "$@"); }  # in the background: (run ...) &, so that $! is the probe's own timeout
winpath() { if [ -n "$runner" ]; then printf 'Z:%s' "${1//\//\\}"; else cygpath -w "$1"; fi; }
has() { grep -qE -- "$2" <<<"$1" || fail "$3: expected /$2/ in:"$'\n'"$1"; }
# Waits up to 30 s for the last line of file $1 to match $2.
await() { for _ in $(seq 300); do tail -n 1 "$1" 2>/dev/null | grep -qE -- "$2" && return 0; sleep 0.1; done; false; }

# The traces: every probe loads the drop-in, tracing into real.trace.
printf '[Trace]\r\nFile=%s\r\nData=1\r\nDataBytes=100000\r\nMaxSizeMB=1\r\n' "$(winpath "$work/real.trace")" >"$ini"
dll=$(winpath "$build/viatrace/ravowsok.dll")
# One peer answers on the urgent byte only (the other read waits in vain),
# one at once.
(run echo-server ravotest6 --seconds 100 --delay 60000) >held.log 2>&1 &
held=$!
(run echo-server ravotest7 --seconds 100) >echo.log 2>&1 &
echo=$!
await held.log 'answer waits' && await echo.log 'listening on' || fail "the echo peers did not start"
probe send 127.0.0.1 ravotest6 SELECT 1 --interrupt-after 20 --dll "$dll" >/dev/null
probe send 127.0.0.1 ravotest7 SELECT 1 --count 3 --interval 0 --dll "$dll" >/dev/null
probe open 127.0.0.1 ravotest8 --dll "$dll" >/dev/null
probe open 127.0.0.1 no-such-service --dll "$dll" >/dev/null
(run send 127.0.0.1 ravotest6 hello --timeout 3000 --dll "$dll") >/dev/null &
hang=$!
await real.trace '> _netread\([0-9]+, up to 5 bytes\)'$'\r''$' && cp real.trace waits.trace ||
  fail "no start line of the read that waits"
wait $hang
# Rows of 8,000 bytes each way, until the file would pass its MiB.
probe send 127.0.0.1 ravotest7 "$(head -c 8000 /dev/zero | tr '\0' x)" --count 20 --interval 0 --dll "$dll" >/dev/null
kill $held $echo 2>/dev/null; wait $held $echo
rm -f "$ini"

out=$(probe report real.trace 2>&1); status=$?
[ "$status" = 0 ] || fail "report real.trace: exit $status, expected 0:"$'\n'"$out"
while IFS= read -r pattern; do has "$out" "$pattern" "report real.trace"; done <<'EOF'
^process [0-9]+: .*ravoprobe.exe through .*viatrace.ravowsok-real.dll$
^ +_netsend +3 +24 
, urgent byte sent$
the open failed after [0-9.]+ ms: code 10061 WSAECONNREFUSED
^ +11304 +NET_ERR_SERVICE\+WSANO_DATA +1 
= -1, code 10060 \(the callback's end value\)
[0-9],[0-9]{3} data rows
tracing stopped: the trace file reached MaxSizeMB=1: later calls are not in the trace
EOF
# How long the first connection was open: the drop-in's own figure.
open=$(grep -m1 -o 'summary of socket [0-9]*: open [0-9.]* ms' real.trace | grep -o '[0-9.]* ms$')
has "$out" "^ +open $open: opened " "the open time of the first connection's summary ($open)"

out=$(probe report waits.trace --html page.html 2>&1); status=$?
[ "$status" = 0 ] || fail "report waits.trace: exit $status, expected 0:"$'\n'"$out"
has "$out" '_netread\([0-9]+, up to 5 bytes\) +no end line; the process.s trace goes on' "report waits.trace"
calls=$(grep -oE '[0-9]+ calls, [0-9,]+ data rows' <<<"$out" | grep -oE '^[0-9]+')

# The page, offline, with a checker put first: the calls its bars draw, the
# hang marked, and any script error or blocked load.
checker='<script>var seen=[];addEventListener("error",function(e){seen.push(e.message)});
addEventListener("securitypolicyviolation",function(e){seen.push("blocked "+e.blockedURI)});
addEventListener("load",function(){var drawn=0;[].forEach.call(document.querySelectorAll("rect.call,rect.calls"),
function(r){if(r.getBBox().width>0)drawn+=r.classList.contains("calls")?parseInt(r.textContent):1});
document.body.insertAdjacentHTML("beforeend","<pre>found: calls="+drawn+" hangs="
+document.querySelectorAll("rect.hang").length+" problems="+seen.length+" "+seen.join("; ")+"</pre>")})</script>'
{ printf '%s\n' "$checker"; cat page.html; } >checked.html
dom=$(timeout 60 chromium --headless --disable-gpu --no-sandbox --user-data-dir="$work/profile" --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync --proxy-server=127.0.0.1:9 \
      --host-resolver-rules='MAP * ~NOTFOUND' --virtual-time-budget=5000 --dump-dom "file://$work/checked.html" 2>/dev/null)
grep -qF "found: calls=$calls hangs=1 problems=0 " <<<"$dom" || fail "the page in Chromium: expected $calls calls" \
  "drawn, 1 hang, no problem; seen: $(grep -o 'found: [^<]*' <<<"$dom")"

out=$(probe report known.trace 2>notes.txt); status=$?
[ "$status" = 1 ] || fail "report known.trace: exit $status, expected 1"
out+=$'\n'$(<notes.txt)  # its notes, on stderr
while IFS= read -r pattern; do has "$out" "$pattern" "report known.trace"; done <<'EOF'
lines are interleaved .* each process is reported on its own
^process 280: C:\\host\\other.exe through C:\\host\\ravowsok-real.dll$
^ +_netopen +1 +- +25.045 
1 line left out .*"26.901 tid 272 .*the drop-in's older line format
line 7 is cut short
EOF
: >empty.trace
printf 'MZ\0\0\220\0' >binary.trace
while IFS='|' read -r args status text; do
  out=$(probe report $args 2>&1); seen=$?
  [ "$seen" = "$status" ] && grep -qF -- "$text" <<<"$out" ||
    fail "report $args: expected exit $status and \"$text\", seen exit $seen:"$'\n'"$out"
done <<'EOF'
empty.trace|1|is empty
binary.trace|1|binary data
missing.trace|1|cannot open the trace missing.trace
known.trace --bogus|2|unknown option
EOF
[ "$failed" = 0 ] && echo "test_report: all passed"
exit "$failed"
