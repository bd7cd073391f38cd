#!/usr/bin/env bash
# Makes a release of the committed HEAD:
#   build/release/ravowsok-<version>-win32.zip   the installed tree
#   build/release/SHA256SUMS                     the archive and every file in it
# It builds in a fresh clone in a temporary folder, so the archive holds
# exactly a revision anyone can check out again, never uncommitted edits or
# leftovers of an earlier build. The link time stamps and the archive's file
# dates are the commit's time, so the same revision always gives the same bytes.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
bash "$repo/scripts/install-deps.sh"
bash "$repo/scripts/install-deps.sh" zip

if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
  echo "release: the working tree has uncommitted changes; they are left out (the release is HEAD)" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/ravo-release.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$work/ravowsok
git clone --quiet --no-hardlinks "$repo" "$src"
revision=$(git -C "$src" rev-parse --short=12 HEAD)
SOURCE_DATE_EPOCH=$(git -C "$src" log -1 --format=%ct)
export SOURCE_DATE_EPOCH

echo "== release: building $revision"
(cd "$src" && cmake --preset default >/dev/null && cmake --build --preset default -j 2 >"$work/build.log" 2>&1) ||
  { tail -n 30 "$work/build.log" >&2; echo "release: the build failed" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$src/build/CMakeCache.txt")
name=ravowsok-$version-win32
stage=$work/stage
cmake --install "$src/build" --prefix "$stage/$name" >/dev/null
# Every link and path of the shipped documents must lead into the zip.
bash "$src/tests/check_docs.sh" links "$stage/$name" >/dev/null
# Nothing shipped may name where it was built or installed: the CMake package
# and the pkg-config file take their paths from their own place in the tree.
if grep -rlF "$work" "$stage" >&2; then
  echo "release: the files above name the build folder; the release must work wherever it is unpacked" >&2; exit 1
fi
find "$stage" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +

out=$repo/build/release
rm -rf "$out"
mkdir -p "$out"
(cd "$stage" && find "$name" -type f | LC_ALL=C sort >"$work/files")
# zip -X stores no owners and no access or change times, which would differ
# from run to run; the entries' dates are the commit's, in UTC.
(cd "$stage" && TZ=UTC zip -q -X -D "$out/$name.zip" -@ <"$work/files")
(cd "$out" && sha256sum "$name.zip") >"$out/SHA256SUMS"
(cd "$stage" && xargs -d '\n' sha256sum <"$work/files") >>"$out/SHA256SUMS"

# The archive must unpack to files that match the list.
mkdir "$work/check"
(cd "$work/check" && cmake -E tar xf "$out/$name.zip" && ln -s "$out/$name.zip" . && sha256sum --quiet -c "$out/SHA256SUMS") ||
  { echo "release: the archive does not match SHA256SUMS" >&2; exit 1; }

echo "== release: $name ($revision) in build/release"
(cd "$out" && ls -l "$name.zip" SHA256SUMS)
echo "module sha256 (ravoprobe --version shows the same for this file):"
grep "/bin/ravowsok.dll\$" "$out/SHA256SUMS"
