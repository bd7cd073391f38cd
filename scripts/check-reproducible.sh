#!/usr/bin/env bash
# Shows that the build is reproducible: clones the committed HEAD into two
# temporary folders of different names and depths, configures and builds
# each (no tests), and compares every .dll, .exe, .a and .lib they made byte
# for byte. Exit 0 when all are identical; removes both folders either way.
#   bash scripts/check-reproducible.sh [REVISION]   (default HEAD)
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
revision=${1:-HEAD}
bash "$repo/scripts/install-deps.sh"

work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
first=$work/a/ravowsok
second=$work/second/deeper/checkout

build() {
  git clone --quiet --no-hardlinks "$repo" "$1"
  git -C "$1" checkout --quiet --detach "$revision"
  (cd "$1" && cmake --preset default >/dev/null && cmake --build --preset default -j 2 >"$1.log" 2>&1) ||
    { tail -n 30 "$1.log" >&2; echo "check-reproducible: the build in $1 failed" >&2; exit 1; }
}

# Built at different moments, from different paths.
build "$first"
sleep 2
build "$second"

binaries() {
  (cd "$1/build" && find . \( -path ./wineprefix -o -path ./CMakeFiles \) -prune -o -type f \
    \( -name '*.dll' -o -name '*.exe' -o -name '*.a' -o -name '*.lib' \) -print | sort)
}
if [ "$(binaries "$first")" != "$(binaries "$second")" ]; then
  echo "check-reproducible: the two builds made different sets of files:" >&2
  diff <(binaries "$first") <(binaries "$second") >&2 || true
  exit 1
fi

same=0 differ=0
while read -r file; do
  if cmp -s "$first/build/$file" "$second/build/$file"; then
    same=$((same + 1))
  else
    differ=$((differ + 1))
    echo "DIFFERS  ${file#./}: $(cmp -l "$first/build/$file" "$second/build/$file" 2>/dev/null | wc -l) bytes"
  fi
done < <(binaries "$first")

echo "check-reproducible: $(git -C "$first" rev-parse --short=12 HEAD): $same identical, $differ different"
[ "$differ" -eq 0 ]
