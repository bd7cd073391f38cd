#!/usr/bin/env bash
# Installs what building and testing the module needs on Debian 12 or 13:
# the i386 architecture for 32-bit Wine, the mingw-w64 i686 cross compiler,
# Wine, Xvfb, CMake, Ninja, PostgreSQL (its server, for test_postgres),
# clang (with clang-tools, for clang-cl), lld and llvm for Microsoft-style
# hosts, pkg-config (pkgconf) for the package tests, Chromium (test_report
# opens the probe's report page in it, headless) and tshark (test_pcap
# reads the probe's capture with it). Does nothing, and makes no apt call,
# when everything is already there.
# "install-deps.sh TOOL..." installs only those maintainers' tools instead
# (debootstrap, zip).
# On a kernel that cannot run 32-bit Linux programs it also sets up qemu-user
# to run Wine's 32-bit side (see ensure_i386_runs below).
#
# A mirror caught out of step (an index whose size or hash does not match its
# Release file, "Mirror sync in progress?") does not stop it: apt-get update
# is tried three times, then the install goes on without the failing index,
# and when that leaves dependencies unmet it installs again from the release's
# own suite (-t CODENAME). Exit status: 0 when everything is there, 1 when
# something could not be installed (the message names the step, the suite and
# what to try; apt's own output is kept in $RAVO_APT_LOG).
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
RAVO_APT_LOG=${RAVO_APT_LOG:-${TMPDIR:-/tmp}/ravo-install-deps.log}
apt_updated=0 log_started=0
# Suites whose indexes the last apt-get update could not fetch, and why.
stale_suites="" stale_reason=""

say() { echo "install-deps: $*" >&2; }

# apt's phrases for a mirror that cannot be reached at all.
NO_NETWORK='Temporary failure resolving|Could not resolve|Could not connect|Unable to connect|Network is unreachable|Connection timed out|No route to host'
# apt's phrases for an install whose dependencies cannot be met (apt 2.6 and 3.0).
UNMET='unmet dependencies|held broken packages|Unable to correct problems|Unsatisfied dependencies|Unable to satisfy dependencies'

# apt-get update, three tries a few seconds apart: a mirror caught mid-sync
# often heals within them. After the last try it goes on with the indexes
# that did come (apt keeps the older ones of the rest) and says which did not.
apt_update() {
  [ "$apt_updated" = 1 ] && return 0
  [ "$log_started" = 1 ] || : >"$RAVO_APT_LOG"
  log_started=1 apt_updated=1
  local try out rc
  for try in 1 2 3; do
    rc=0
    out=$($SUDO apt-get update -qq 2>&1) || rc=$?
    printf '%s\n' "$out" >>"$RAVO_APT_LOG"
    if [ "$rc" = 0 ] && ! grep -qE "$NO_NETWORK" <<<"$out"; then
      stale_suites="" stale_reason=""
      return 0
    fi
    stale_suites=$(grep -oE 'Failed to fetch [^ ]+' <<<"$out" | sed -n 's#.*/dists/\([^/]*\)/.*#\1#p' | sort -u | paste -sd ' ')
    stale_reason=$(grep -m 1 -E 'Failed to fetch' <<<"$out" | sed -e 's/^[^ ]* Failed to fetch [^ ]* *//' -e 's/ *\[IP:.*//')
    # Without a network each try waits for the resolver: once is enough.
    grep -qE "$NO_NETWORK" <<<"$stale_reason" && break
    [ "$try" = 3 ] || sleep $((try * 3))
  done
  local tries="$try tries"
  [ "$try" = 1 ] && tries="one try"
  say "apt-get update could not fetch every index of ${stale_suites:-its sources} after $tries (${stale_reason:-exit $rc}); going on without them"
}

# One apt-get install, its output kept in the log rather than on the terminal.
apt_install_once() {
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$@" >>"$RAVO_APT_LOG" 2>&1
}

# What apt's errors say, for the messages below: the first that tells of
# the network, else the last one (apt 3.0's lines that only introduce its
# solver's account, ending in a colon, aside).
apt_error() {
  local errors
  errors=$(grep -E '^(E|Error): ' "$RAVO_APT_LOG" | sed -E -e 's/^(E|Error): //' -e 's/ *\[IP:.*//' | grep -v ':$' || true)
  { grep -m 1 -E "$NO_NETWORK" <<<"$errors" || tail -n 1 <<<"$errors"; } | sed -E 's/^Failed to fetch [^ ]+ +//'
}

# Installs the packages given. When an index out of step leaves their
# dependencies unmet (the i386 twins of newer amd64 versions are missing),
# it installs again with the release's own suite as the target: nothing is
# pinned beyond this one command, and apt never downgrades for -t.
apt_install() {
  apt_update
  say "installing $* (apt's output: $RAVO_APT_LOG)"
  local mark
  mark=$(wc -l <"$RAVO_APT_LOG")
  apt_install_once "$@" && return 0
  if tail -n +"$((mark + 1))" "$RAVO_APT_LOG" | grep -qE "$UNMET" && [ -n "$codename" ]; then
    say "dependencies unmet${stale_suites:+ without the indexes of $stale_suites}: installing again from the release's own suite (-t $codename)"
    apt_install_once -t "$codename" "$@" && return 0
  fi
  local why unmet=""
  why=$(apt_error)
  tail -n +"$((mark + 1))" "$RAVO_APT_LOG" | grep -qE "$UNMET" && unmet=1
  if [ -n "$unmet" ] && [ -n "$stale_suites" ]; then
    # Installed amd64 packages newer than any i386 twin that apt knows of:
    # only the index that did not come lists those twins.
    say "step 'apt-get install' for $codename: dependencies stay unmet without the indexes of $stale_suites (${stale_reason:-not fetched}), also from the release's own suite: packages installed from $stale_suites are newer than their twins there. Try again once the mirror has finished its sync (usually within hours), or point the apt sources' $stale_suites entry at another mirror"
  elif grep -qE "$NO_NETWORK" <<<"$why$stale_reason"; then
    say "no Debian mirror can be reached (${why:-$stale_reason}): check the network and the apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/), then run this again"
  elif grep -qE 'Unable to locate package|has no installation candidate' <<<"$why"; then
    say "step 'apt-get install' for $codename: ${why}: the apt sources offer no such package; they should list a Debian mirror with the suite $codename and its component main"
  else
    say "step 'apt-get install' for $codename${stale_suites:+ (indexes not fetched: $stale_suites)} failed: ${why:-see the log}. Try again later, when the mirror has finished its sync, or point the apt sources at another Debian mirror"
  fi
  say "apt's whole output is in $RAVO_APT_LOG"
  exit 1
}

# With arguments: only the named maintainers' tools, when missing.
if [ $# -gt 0 ]; then
  missing=()
  for tool in "$@"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  [ ${#missing[@]} -eq 0 ] || apt_install "${missing[@]}"
  exit 0
fi

need=()
command -v i686-w64-mingw32-g++ >/dev/null || need+=(g++-mingw-w64-i686 binutils-mingw-w64-i686)
command -v i686-w64-mingw32-g++-posix >/dev/null || need+=(g++-mingw-w64-i686-posix)
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v xvfb-run >/dev/null || need+=(xvfb)
command -v xauth >/dev/null || need+=(xauth)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine wine32:i386)
# The server for test_postgres: Debian 12 ships 15, Debian 13 ships 17.
ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1 || need+=(postgresql)
# For hosts built in Microsoft mode: clang, lld-link, and llvm-dlltool for
# the import library ravowsok.lib.
command -v clang >/dev/null || need+=(clang)
command -v lld-link >/dev/null || need+=(lld)
command -v llvm-dlltool >/dev/null || need+=(llvm)
# clang-cl, the package tests' Microsoft-style compiler, sits beside clang
# but comes with Debian's clang-tools.
clang_dir=$(dirname "$(readlink -f "$(command -v clang || echo /none/clang)")")
[ -x "$clang_dir/clang-cl" ] || need+=(clang-tools)
# The package tests build a host with pkg-config's flags for the installed tree.
command -v pkg-config >/dev/null || need+=(pkgconf)
# test_report opens ravoprobe report's page in a real browser, headless.
command -v chromium >/dev/null || need+=(chromium)
# test_pcap reads ravoprobe report's capture with Wireshark's tshark.
command -v tshark >/dev/null || need+=(tshark)

if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  apt_install "${need[@]}"
fi

i386_runs() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# The URI of the machine's own Debian mirror, from its apt sources.
debian_mirror() {
  bash "$(dirname "$0")/debian-mirror.sh"
}

qemu_major() {
  qemu-i386-static --version 2>/dev/null | sed -n 's/.*version \([0-9]\+\)\..*/\1/p' | head -n 1
}

# Some kernels run with 32-bit emulation switched off (ia32_emulation=off):
# Wine's 32-bit loader and libraries then fail with "Exec format error".
# qemu-user, registered for i386 programs through binfmt_misc, runs them
# instead. It must be qemu 8 or later: older ones mishandle the address-space
# probing of Wine's loader, and every Wine program then takes ~50 s to start.
# wine64 brings the 64-bit wineserver and services, which run natively.
ensure_i386_runs() {
  i386_runs && return 0
  echo "install-deps: this kernel does not run 32-bit programs; running them under qemu-user" >&2
  if [ "$(qemu_major)" = "" ] || [ "$(qemu_major)" -lt 8 ]; then
    if [ "$codename" = bookworm ]; then
      local mirror
      mirror=$(debian_mirror)
      printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "${mirror:?no Debian mirror in the apt sources}" | $SUDO tee /etc/apt/sources.list.d/ravo-backports.sources >/dev/null
      apt_updated=0
      apt_update
      DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends -t bookworm-backports qemu-user-static
    else
      apt_install qemu-user-static
    fi
  fi
  dpkg -s wine64 >/dev/null 2>&1 || apt_install wine64
  local binfmt=/proc/sys/fs/binfmt_misc
  [ -f "$binfmt/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$binfmt"
  # A stale registration (an older qemu, opened when it was registered) goes.
  [ -f "$binfmt/qemu-i386" ] && echo -1 | $SUDO tee "$binfmt/qemu-i386" >/dev/null
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":qemu-i386:M::$magic:$mask:/usr/bin/qemu-i386-static:FP" | $SUDO tee "$binfmt/register" >/dev/null
  i386_runs || { echo "install-deps: 32-bit programs still do not run" >&2; exit 1; }
}

ensure_i386_runs
