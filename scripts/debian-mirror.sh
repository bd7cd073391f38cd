#!/usr/bin/env bash
# Prints the URI of the machine's own Debian mirror, read from its apt
# sources (deb822 files first, then the one-line list), security archive aside.
# "debian-mirror.sh security" prints the security archive's URI instead; with
# none in the sources, the mirror's own URI with "-security" appended (the
# layout of Debian's mirrors).
set -euo pipefail
uris=$({ sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null
         awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' \
           /etc/apt/sources.list 2>/dev/null; } | awk '{ print $1 }' || true)
uri=$(grep -v security <<<"$uris" | head -n 1 || true)
[ -n "$uri" ] || { echo "debian-mirror: no Debian mirror in the apt sources" >&2; exit 1; }
if [ "${1:-}" = security ]; then
  security=$(grep security <<<"$uris" | head -n 1 || true)
  echo "${security:-${uri%/}-security}"
else
  echo "$uri"
fi
