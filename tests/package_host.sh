#!/usr/bin/env bash
# The CMake package and the pkg-config file as hosts use them from the
# release: the tree cmake --install lays out, moved elsewhere (nothing in it
# may name where it was installed), and examples/cmake_host built against it.
# Usage: package_host.sh BUILD_DIR KERNEL32_IMPORT_LIBRARY STEP RUNNER, STEP:
#   install  lays out BUILD_DIR/package/ravowsok for the other steps
#   gnu, msvc  mingw-w64 (libravowsok.dll.a), clang-cl and lld-link
#            (ravowsok.lib): ravowsok.dll copied beside the host, which passes
#   version, 64bit  asking for 2.0, or a 64-bit project: the configure fails
#   pkgconfig  a host built with pkg-config's flags passes
set -u
build=$1 kernel32=$2 step=$3 runner=$4
tree=$build/package/ravowsok out=$build/package/$3 source=$build/package/ravowsok/examples/cmake_host
fail() { echo "package_host $step: $*" >&2; exit 1; }
run() { RAVO_BUILD_DIR=$build timeout 120 bash "$runner" "$@" || fail "$1 did not pass"; }
configure() { rm -rf "$out" && cmake -S "$source" -B "$out" -G Ninja -DCMAKE_SYSTEM_NAME=Windows \
                -DCMAKE_PREFIX_PATH="$tree" "$@" >"$out.log" 2>&1; }
refused() {  # MESSAGE OPTION...: the configure fails, saying MESSAGE
  configure "${@:2}" && fail "the configure passed"
  tr -s ' \n' ' ' <"$out.log" | grep -qF "$1" || { cat "$out.log"; fail "no '$1'"; }
}
cl=$(dirname "$(readlink -f "$(command -v clang)")")/clang-cl
[[ $step != msvc && $step != 64bit || -x $cl ]] || fail "clang-cl is missing (scripts/install-deps.sh installs clang)"
# No Windows SDK or C runtime here: the host is built as linked_host_msvc.sh does.
msvc=(-DCMAKE_C_COMPILER="$cl" -DCMAKE_C_COMPILER_TARGET=i686-pc-windows-msvc -DCMAKE_LINKER=lld-link
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_TRY_COMPILE_TARGET_TYPE=STATIC_LIBRARY -DCMAKE_C_FLAGS=/GS-
      "-DCMAKE_EXE_LINKER_FLAGS=/nodefaultlib /entry:HostEntry /safeseh:no /manifest:no"
      -DCMAKE_C_STANDARD_LIBRARIES="$kernel32")
opts=(-DCMAKE_C_COMPILER=i686-w64-mingw32-gcc) lib=libravowsok.dll.a
[ "$step" = msvc ] && opts=("${msvc[@]}") lib=ravowsok.lib
case $step in
install) rm -rf "$build/package" && cmake --install "$build" --prefix "$out" >/dev/null && mv "$out" "$tree" ||
           fail "cannot install $build" ;;
gnu|msvc)
  configure "${opts[@]}" || { cat "$out.log"; fail "the configure failed"; }
  grep -qF "$tree/lib/$lib" "$out/build.ninja" || fail "the host does not link $lib"
  cmake --build "$out" >>"$out.log" 2>&1 || { cat "$out.log"; fail "the build failed"; }
  [ -f "$out/ravowsok.dll" ] || fail "ravowsok.dll is not beside the host"
  run "$out/linked_host.exe" ;;
version)
  source=$out-source && mkdir -p "$source" &&
    sed 's/(ravowsok 1.0 /(ravowsok 2.0 /' "$tree/examples/cmake_host/CMakeLists.txt" >"$source/CMakeLists.txt"
  grep -qF "(ravowsok 2.0 " "$source/CMakeLists.txt" || fail "examples/cmake_host does not ask for 1.0"
  refused 'compatible with requested version "2.0"' "${opts[@]}" ;;
64bit) refused "ravowsok.dll is a 32-bit Windows module only" "${msvc[@]}" -DCMAKE_C_COMPILER_TARGET=x86_64-pc-windows-msvc ;;
pkgconfig)
  command -v pkg-config >/dev/null || fail "pkg-config is missing (bash scripts/install-deps.sh installs pkgconf)"
  export PKG_CONFIG_LIBDIR=$tree/lib/pkgconfig
  mkdir -p "$out" && cp "$(pkg-config --variable=bindir ravowsok)/ravowsok.dll" "$out" &&
    i686-w64-mingw32-gcc "$tree/examples/linked_host.c" $(pkg-config --cflags --libs ravowsok) -o "$out/host.exe" ||
    fail "cannot build the host with pkg-config's flags"
  run "$out/host.exe" ;;
*) fail "no such step" ;;
esac
