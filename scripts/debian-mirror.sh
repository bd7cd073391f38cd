#!/usr/bin/env bash
# Prints the URI of the machine's own Debian mirror, read from its apt
# sources (deb822 files first, then the one-line list), security archive aside.
set -euo pipefail
uri=$({ sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/*.sources 2>/dev/null
        awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) { print $i; break } }' \
          /etc/apt/sources.list 2>/dev/null; } | awk '{ print $1 }' | grep -v security | head -n 1 || true)
[ -n "$uri" ] || { echo "debian-mirror: no Debian mirror in the apt sources" >&2; exit 1; }
echo "$uri"
