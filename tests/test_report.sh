#!/usr/bin/env bash
# ravoprobe report as an administrator runs it, on traces the drop-in wrote:
# probes through build/viatrace against an echo peer that answers on the
# urgent byte (round trips with Data=1 rows and their summary, a refused
# open, an unknown service, a host killed while it waits, a close and a reset
# by the server, two runs that share a process id, a MaxSizeMB stop),
# the text read back against the trace, the page in a real headless
# Chromium, and what no run makes (tests/report/known.trace: two processes
# interleaved, the older format, a cut line) and other bad input.
#   test_report.sh SOURCE_DIR BUILD_DIR [RUNNER]
set -u
src=$1 build=$2 runner=${3:-} failed=0
work=$(mktemp -d "$build/report.XXXXXX")  # where the prefix is: its copy links files
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
# Waits up to 30 s for the last line of file $1 to match $2 (reading: to start a read of $2 bytes).
await() { for _ in $(seq 300); do tail -n 1 "$1" 2>/dev/null | grep -qE -- "$2" && return 0; sleep 0.1; done; false; }
reading() { await "$1" '> _netread\([0-9]+, up to '"$2"' bytes\)'$'\r''$' || fail "$1: no read of $2 bytes waits"; }
# A round trip to the peer that answers on the urgent byte only: the read waits.
waiting() { (run send 127.0.0.1 ravotest6 "$1" --timeout 60000 --dll "$dll") >/dev/null & }

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
probe send 127.0.0.1 ravotest6 hello --timeout 3000 --dll "$dll" >/dev/null
# A host killed while its read waits.
waiting hang; reading real.trace 4; kill $!; wait $!
# Two runs, each the first program of its own Wine server (in a copy of the prefix: files linked,
# those Wine writes copied), as from a shell: Wine gives both the same process id. The first is killed.
if [ -n "$runner" ]; then
  pfx=$build/wineprefix own=pids/drive_c/windows/quorvane.ini
  mkdir pids && cp -al "$pfx"/{drive_c,dosdevices} pids/ && cp "$pfx"/{*.reg,.update-timestamp} pids/ && rm -f $own
  printf '[Trace]\r\nFile=%s\r\n' "$(winpath "$work/p.trace")" >$own
  pidrun() { WINEPREFIX=$work/pids timeout 60 wine "$build/ravoprobe.exe" "$@" --dll "$dll" &>/dev/null; }
  pidrun send 127.0.0.1 ravotest6 hang & reading p.trace 4; WINEPREFIX=$work/pids wineserver -k; wait $!
  pidrun open 127.0.0.1 ravotest8; WINEPREFIX=$work/pids timeout 30 wineserver -w
  [ "$(grep -oE ' pid [0-9]+ ' p.trace | sort -u | wc -l)" = 1 ] || fail "Wine gave the two runs different process ids"
  has "$(probe report p.trace)" 'bytes\): over by [0-9:.]+, when a new process took its process id' "report p.trace"
fi
# The server ends two reads' connections: the one it serves with a close, the one in its
# listen queue with a reset (Wine 8 reads both as 0 bytes, Wine 10 the reset as 10054).
waiting closed; reading real.trace 6; waiting inqueue; reading real.trace 7
kill $held; wait $held
# Rows of 8,000 bytes each way, until the file would pass its MiB.
probe send 127.0.0.1 ravotest7 "$(head -c 8000 /dev/zero | tr '\0' x)" --count 20 --interval 0 --dll "$dll" >/dev/null
kill $echo; wait  # and the probes whose reads the server ended
rm -f "$ini"

out=$(probe report real.trace --html page.html 2>&1); status=$?
[ "$status" = 0 ] || fail "report real.trace: exit $status, expected 0:"$'\n'"$out"
while IFS= read -r pattern; do has "$out" "$pattern" "report real.trace"; done <<'EOF'
^process [0-9]+ at [0-9:.]+: .*ravoprobe.exe through .*viatrace.ravowsok-real.dll$
never ended .* up to 4 bytes\): still waiting at [0-9:.]+, the trace's last line: at least [0-9.]+ m?s$
^ +[0-9:.]+ +no end line +at least [0-9]+ +connection 1 +_netread\([0-9]+, up to 4 bytes\): still waiting at 
^ +[0-9:.]+ +(closed|reset) by the server +[0-9]+ at .* up to 6 bytes\) = 
^ +[0-9:.]+ +(closed|reset) by the server +[0-9]+ at .* up to 7 bytes\) = 
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
has "$out" ", from $(head -c 23 real.trace) to " "the trace's first stamp as written"
calls=$(grep -oE '[0-9,]+ calls, [0-9,]+ data rows' <<<"$out" | grep -oE '^[0-9,]+' | tr -d ,)


# The page, offline, with a checker put first: the calls its bars draw, the hangs (the killed host's, the read
# the stop cut) and the widest, the closes marked, links that lead nowhere, any script error or blocked load.
checker='<script>var seen=[];addEventListener("error",function(e){seen.push(e.message)});
addEventListener("securitypolicyviolation",function(e){seen.push("blocked "+e.blockedURI)});
addEventListener("load",function(){var drawn=0;[].forEach.call(document.querySelectorAll("rect.call,rect.calls"),
function(r){if(r.getBBox().width>0)drawn+=r.classList.contains("calls")?parseInt(r.textContent):1});
var q=function(s){return [].slice.call(document.querySelectorAll(s))},hangs=q("rect.hang").map(function(r){
return r.getBBox().width}),dead=q("a").filter(function(a){return !document.getElementById(a.hash.slice(1))});
document.body.insertAdjacentHTML("beforeend","<pre>found: calls="+drawn+" hangs="+hangs.length+" widest="
+Math.round(Math.max.apply(null,hangs))+" endings="+q("rect.ending").length+" dead links="+dead.length
+" problems="+seen.length+" "+seen.join("; ")+"</pre>")})</script>'
{ printf '%s\n' "$checker"; cat page.html; } >checked.html
dom=$(timeout 60 chromium --headless --disable-gpu --no-sandbox --user-data-dir="$work/profile" --no-first-run \
      --disable-background-networking --disable-component-update --disable-sync --proxy-server=127.0.0.1:9 \
      --host-resolver-rules='MAP * ~NOTFOUND' --virtual-time-budget=5000 --dump-dom "file://$work/checked.html" 2>/dev/null)
grep -qE "found: calls=$calls hangs=2 widest=([5-9][0-9]{2}|[0-9]{4}) endings=2 dead links=0 problems=0 " <<<"$dom" ||
  fail "the page in Chromium: expected $calls calls, 2 hangs (one 500 px wide), 2 endings, no dead link, no problem;" \
  "seen: $(grep -o 'found: [^<]*' <<<"$dom")"

out=$(probe report known.trace 2>notes.txt); status=$?
[ "$status" = 1 ] || fail "report known.trace: exit $status, expected 1"
out+=$'\n'$(<notes.txt)  # its notes, on stderr
while IFS= read -r pattern; do has "$out" "$pattern" "report known.trace"; done <<'EOF'
lines are interleaved .* each process is reported on its own
^process 280 at 05:31:02.005: C:\\host\\other.exe through C:\\host\\ravowsok-real.dll$
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
