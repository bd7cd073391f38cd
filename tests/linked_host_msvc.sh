#!/usr/bin/env bash
# Builds examples/linked_host.c as a Microsoft-mode program (clang for
# i686-pc-windows-msvc, linked by lld-link against ravowsok.lib, with no C
# runtime and mingw-w64's KERNEL32 import library) and runs it under Wine
# against the built module. Missing tools fail the test: a host toolchain that
# cannot be tried is not a pass.
# Usage: linked_host_msvc.sh SOURCE_DIR BUILD_DIR KERNEL32_IMPORT_LIBRARY [RUNNER]
# RUNNER runs a Windows program (cmake/wine-run.sh); none on Windows itself.
set -u
source_dir=$1 build=$2 kernel32=$3 runner=${4:-}
out=$build/linked_host_msvc
fail() { echo "linked_host_msvc: $*" >&2; exit 1; }

for tool in clang lld-link; do
  command -v $tool >/dev/null || fail "$tool is missing (bash scripts/install-deps.sh installs clang, lld and llvm)"
done
[ -f "$build/ravowsok.lib" ] || fail "$build/ravowsok.lib is missing (llvm-dlltool was not found when the build was configured)"
[ -f "$kernel32" ] || fail "KERNEL32's import library '$kernel32' is missing (mingw-w64's i686 libraries)"

mkdir -p "$out"
clang --target=i686-pc-windows-msvc -std=c89 -pedantic -Wall -Wextra -Werror -Os \
  -I "$source_dir/include" -c "$source_dir/examples/linked_host.c" -o "$out/linked_host.obj" ||
  fail "clang could not compile the host"
# /safeseh:no: the objects of mingw-w64's import libraries carry no SEH table
# marker, and lld-link refuses to mix them into a /safeseh image.
lld-link /nologo /nodefaultlib /safeseh:no /entry:HostEntry /subsystem:console /machine:x86 \
  "/out:$build/linked_host_msvc.exe" "$out/linked_host.obj" "$build/ravowsok.lib" "$kernel32" ||
  fail "lld-link could not link the host against ravowsok.lib"
if [ -n "$runner" ]; then
  RAVO_BUILD_DIR=$build bash "$runner" "$build/linked_host_msvc.exe"
else
  "$build/linked_host_msvc.exe"
fi
