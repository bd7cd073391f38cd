#!/usr/bin/env bash
# Keeps README.md and docs/ true to the tree and to the programs' help.
#   check_docs.sh help SOURCE_DIR BUILD_DIR [RUNNER]
#     every command and option of ravoprobe --help and dumptool --help is in
#     docs/administrators.md, every `ravoprobe COMMAND` and `--option` of its
#     code spans is in that help, and so is its exit-status table, row by row
#   check_docs.sh links DIR
#     every relative link of README.md and docs/*.md (and its #heading)
#     resolves, and every path named exists unless the document's own -o PATH
#     makes it; build/ and absolute paths are exempt
#   check_docs.sh installed BUILD_DIR [CMAKE]
#     the same over BUILD_DIR/installed, the tree the release zip holds; in an
#     installed tree (one with bin/) the documents also name nothing of the
#     build tree: no build/ path, no preset, no test (of tests/CMakeLists.txt)
set -u
mode=$1 src=$2 failed=0
fail() { echo "check_docs: $*" >&2; failed=1; }

if [ "$mode" = help ]; then
  build=$3 runner=${4:-} doc=$src/docs/administrators.md
  run() { if [ -n "$runner" ]; then RAVO_BUILD_DIR=$build timeout 120 bash "$runner" "$@"; else timeout 120 "$@"; fi; }
  probe=$(run "$build/ravoprobe.exe" --help) || fail "ravoprobe --help failed"
  dump=$(run "$build/dumptool.exe" --help) || fail "dumptool --help failed"
  commands=$(sed -n 's/^  ravoprobe \([a-z][a-z-]*\).*/\1/p' <<<"$probe")
  options=$(grep -oE -- '--[a-z][a-z-]*' <<<"$probe$dump" | sort -u)
  [ -n "$commands" ] && [ -n "$options" ] || fail "no command or option read from the help"
  for c in $commands; do grep -qF "ravoprobe $c" "$doc" || fail "administrators.md lacks 'ravoprobe $c'"; done
  for o in $options; do grep -qE -- "$o([^a-z-]|\$)" "$doc" || fail "administrators.md lacks '$o'"; done
  spans=$(awk '/^ *```/ { fenced = !fenced; next } !fenced' "$doc" | tr '\n' ' ' | grep -o '`[^`]*`')
  for o in $(grep -oE -- '--[a-z][a-z-]*' <<<"$spans" | sort -u); do
    grep -qx -- "$o" <<<"$options" || fail "administrators.md names $o, which no help lists"
  done
  for c in $(grep -oE 'ravoprobe [a-z][a-z-]*' <<<"$spans" | cut -d' ' -f2 | sort -u); do
    grep -qx "$c" <<<"$commands" || fail "administrators.md names 'ravoprobe $c', which the help does not list"
  done
  helpStatuses=$(sed -n '/^Exit status:$/,/^[^ ]/s/^  \([0-9]\)  /\1 /p' <<<"$probe")
  docStatuses=$(awk '/^### Exit statuses/ { on = 1; next } /^#/ { on = 0 } on' "$doc" |
                sed -n 's/^| \([0-9]\) | \(.*\) |$/\1 \2/p' | tr -d '`')
  [ -n "$helpStatuses" ] && [ "$helpStatuses" = "$docStatuses" ] || fail "administrators.md's exit statuses" \
    "(<) differ from the help's (>):"$'\n'"$(diff <(echo "$docStatuses") <(echo "$helpStatuses"))"
elif [ "$mode" = installed ]; then
  rm -rf "$src/installed" && "${3:-cmake}" --install "$src" --prefix "$src/installed" >/dev/null &&
    exec bash "$0" links "$src/installed"
  fail "cannot install $src"
elif [ "$mode" = links ]; then
  # GitHub's heading anchors: lower case, punctuation dropped, spaces to '-'.
  anchors() { sed -n 's/^#\{1,6\} //p' "$1" | tr 'A-Z ' 'a-z-' | tr -cd 'a-z0-9_\n-'; }
  roots='src|include|examples|tools|tests|bench|scripts|cmake|res|docs|\.ci'
  buildWords=  # for an installed tree: what only a build tree has
  if [ -d "$src/bin" ]; then
    roots+='|bin|lib'
    tests=$(sed -nE 's/^ *add_test\(NAME ([A-Za-z0-9_]+)([ )].*|$)/\1/p; s/^ *ravo_add_test\(([A-Za-z0-9_]+)([ )].*|$)/\1/p' \
                "$(dirname "$0")/CMakeLists.txt")
    [ -n "$tests" ] || fail "no test names read from $(dirname "$0")/CMakeLists.txt"
    buildWords="presets?|$(sort -u <<<"$tests" | paste -sd'|')"
  fi
  for f in "$src"/README.md "$src"/docs/*.md; do
    name=${f#"$src"/} dir=$(dirname "$f")
    for target in $(grep -oE '\]\([^)]+\)' "$f" | sed 's/^](//; s/)$//' | grep -vE '^(https?|mailto):'); do
      path=${target%%#*} anchor=${target#"$path"}
      [ -z "$path" ] && file=$f || file=$dir/$path
      [ -e "$file" ] || { fail "$name: link to $target: no such file"; continue; }
      [ -z "$anchor" ] || anchors "$file" | grep -qx -- "${anchor#\#}" || fail "$name: link to $target: no such heading"
    done
    for path in $(grep -oE "(^|[^A-Za-z0-9_./\$-])($roots)/[A-Za-z0-9_.*/-]*" "$f" |
                  sed -E 's/^[^a-z.]//; s/[.]+$//' | sort -u); do
      compgen -G "$src/$path" >/dev/null || grep -qE -- "-o $path( |$)" "$f" ||
        fail "$name: names $path, which is not in $src"
    done
    [ -z "$buildWords" ] || while IFS= read -r hit; do
      fail "$name:${hit%%:*}: names '${hit#*:}', which only a build tree has"
    done < <(grep -noE -- "(^|[^A-Za-z0-9_./\$-])build/" "$f" | sed -E 's|:.*|:build/|'
             grep -nowE -- "$buildWords" "$f")
  done
else
  echo "usage: check_docs.sh help SOURCE_DIR BUILD_DIR [RUNNER] | links DIR | installed BUILD_DIR [CMAKE]" >&2; exit 2
fi
[ "$failed" = 0 ] && echo "check_docs $mode: all true"
exit "$failed"
