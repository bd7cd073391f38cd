#!/usr/bin/env bash
# Installs what building and testing the module needs on Debian 12 or 13:
# the i386 architecture for 32-bit Wine, the mingw-w64 i686 cross compiler,
# Wine, Xvfb, CMake, Ninja, PostgreSQL (its server, for test_postgres),
# clang, lld and llvm for Microsoft-style hosts, and Chromium (test_report
# opens the probe's report page in it, headless). Does nothing when everything
# is already there.
# "install-deps.sh TOOL..." installs only those maintainers' tools instead
# (debootstrap, zip).
# On a kernel that cannot run 32-bit Linux programs it also sets up qemu-user
# to run Wine's 32-bit side (see ensure_i386_runs below).
set -euo pipefail

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo

# With arguments: only the named maintainers' tools, when missing.
if [ $# -gt 0 ]; then
  missing=()
  for tool in "$@"; do
    command -v "$tool" >/dev/null || missing+=("$tool")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
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
# test_report opens ravoprobe report's page in a real browser, headless.
command -v chromium >/dev/null || need+=(chromium)

if [ ${#need[@]} -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}"
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
    local codename target=()
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ "$codename" = bookworm ]; then
      local mirror
      mirror=$(debian_mirror)
      printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "${mirror:?no Debian mirror in the apt sources}" | $SUDO tee /etc/apt/sources.list.d/ravo-backports.sources >/dev/null
      target=(-t bookworm-backports)
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${target[@]}" qemu-user-static
  fi
  if ! dpkg -s wine64 >/dev/null 2>&1; then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends wine64
  fi
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
