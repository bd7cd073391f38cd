#!/usr/bin/env bash
# Runs the README's two commands (scripts/demo.sh, then scripts/test.sh) on a
# fresh minimal Debian root made with debootstrap from the mirror this
# machine's apt uses, with a clone of the committed HEAD inside. The root's
# apt sources are an installed Debian's: the release, its -updates and its
# -security suite, from the mirrors this machine's apt uses, so that the root
# meets what a newcomer's machine meets (a security index out of step too). Removes the
# root, its mounts and whatever ran in it on every way out. Run as root.
#   bash scripts/check-on-debian.sh bookworm|trixie [COMMAND...]
# A COMMAND given runs instead of the two (from the clone's top folder), e.g.
#   bash scripts/check-on-debian.sh trixie bash scripts/check-reproducible.sh
# RAVO_DEBIAN_MINUTES bounds each command (default 60).
set -euo pipefail

suite=${1:-}
case "$suite" in
  bookworm|trixie) ;;
  *) echo "usage: $0 bookworm|trixie [COMMAND...]" >&2; exit 2 ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "check-on-debian: debootstrap and chroot need root" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
minutes=${RAVO_DEBIAN_MINUTES:-60}

bash "$repo/scripts/install-deps.sh" debootstrap
mirror=$(bash "$repo/scripts/debian-mirror.sh")
security=$(bash "$repo/scripts/debian-mirror.sh" security)

root=$(mktemp -d /var/tmp/ravo-debian-"$suite".XXXXXX)
chmod 755 "$root"   # its "/": apt's own user must get through it
mounts=(proc sys dev dev/pts dev/shm)

# Processes still running in the root (a wineserver, an Xvfb) were started by
# this script: end them by their ids, then unmount and remove the root.
cleanup() {
  local rc=$? pid
  trap - EXIT INT TERM
  set +e
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] && kill -KILL "$pid" 2>/dev/null
  done
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    mountpoint -q "$root/${mounts[$i]}" 2>/dev/null &&
      { umount "$root/${mounts[$i]}" 2>/dev/null || umount -l "$root/${mounts[$i]}"; }
  done
  if grep -q " $root/" /proc/mounts; then
    echo "check-on-debian: $root is still mounted; left in place" >&2
  else
    # --one-file-system: never follows into a mount that somehow remains.
    rm -rf --one-file-system "$root"
  fi
  exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

echo "== debootstrap $suite from $mirror into $root"
timeout 1800 debootstrap --variant=minbase --include=git "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
  { tail -n 30 "$root.debootstrap.log" >&2; rm -f "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"
# No service starts inside the root while packages are installed.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
chmod +x "$root/usr/sbin/policy-rc.d"
cp /etc/resolv.conf "$root/etc/resolv.conf"
# debootstrap leaves the release suite alone in sources.list; an installed
# Debian has its updates and security suites beside it.
rm -f "$root/etc/apt/sources.list"
cat >"$root/etc/apt/sources.list.d/debian.sources" <<SOURCES
Types: deb
URIs: $mirror
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES

mount -t proc proc "$root/proc"
mount -t sysfs sysfs "$root/sys"
mount --bind /dev "$root/dev"
mount --bind /dev/pts "$root/dev/pts"
mount -t tmpfs tmpfs "$root/dev/shm"

# The root shares this machine's network, hence its X sockets: xvfb-run -a
# inside picks its display by lock file, so displays :99 to :149 are marked
# taken there and its Xvfb starts at :150, clear of the host's own.
for n in $(seq 99 149); do : >"$root/tmp/.X$n-lock"; done

git clone --quiet --no-hardlinks "$repo" "$root/root/ravowsok"
echo "== $suite: $(git -C "$root/root/ravowsok" log -1 --format='%h %s')"

inside() {
  timeout --kill-after=60 "${minutes}m" chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /root/ravowsok && "$@"' inside "$@"
}

# The README's two commands, or the one command given after the suite.
if [ $# -gt 1 ]; then
  shift
  commands=("$*")
else
  commands=("bash scripts/demo.sh" "bash scripts/test.sh")
fi
results=() failed=0
for command in "${commands[@]}"; do
  echo "== $suite: $command"
  rc=0
  inside bash -c "$command" || rc=$?
  results+=("$command: exit $rc")
  [ "$rc" -eq 0 ] || failed=1
done
echo "== $suite: $(inside bash -c '. /etc/os-release; echo "$PRETTY_NAME"'), $(inside wine --version)," \
  "$(inside i686-w64-mingw32-g++ --version | head -n 1), $(inside i686-w64-mingw32-objdump --version | head -n 1)"
for result in "${results[@]}"; do
  echo "== $suite: $result"
done
exit "$failed"
