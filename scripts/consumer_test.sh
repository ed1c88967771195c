#!/usr/bin/env bash
# The installed tree as a user gets it: installs a build into a prefix whose path holds a
# space, moves the tree elsewhere, builds examples/reset.c against it once through the CMake
# package (find_package(zr 1.0) -> zr::zr) and once through pkg-config, and runs both against
# the installed zrsim over TCP and over its pseudo-terminal. Also checks that the package
# refuses another major version and that the moved zrtool still finds its library; and, when
# zrgate is built, that the tree has it with its man page, its systemd unit (naming the
# configured program) and an example site.ini that it accepts.
#
# usage: scripts/consumer_test.sh [BUILD_DIR]   (default: build, which is brought up to date)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
[[ $build = /* ]] || build=$root/$build
say() { echo "consumer_test: $*"; }
fail() { echo "consumer_test: FAILED: $*" >&2; exit 1; }

if ! command -v pkg-config >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq pkg-config
fi
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

work=$(mktemp -d)
sim=
cleanup() {
  [ -z "$sim" ] || kill "$sim" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# ---- Install, then move ---------------------------------------------------------------------
cmake --install "$build" --prefix "$work/zr prefix" >/dev/null
mkdir -p "$work/moved here"
mv "$work/zr prefix" "$work/moved here/zr 1.0"
prefix="$work/moved here/zr 1.0"
for f in include/zr.h bin/zrtool bin/zrsim; do
  [ -e "$prefix/$f" ] || fail "$f is not installed"
done
if grep -rlF "$work/zr prefix" "$prefix" >/dev/null; then
  fail "the installed tree names the path it was installed to: $(grep -rlF "$work/zr prefix" "$prefix" | head -3)"
fi
version=$("$prefix/bin/zrtool" --version) || fail "the moved zrtool does not start"
say "moved tree: $(echo "$version" | tr '\n' ' ')"

# ---- zrgate: program, man page, systemd unit naming the installed program, example ---------
if [ -x "$build/tools/zrgate/zrgate" ]; then
  for f in bin/zrgate lib/systemd/system/zrgate.service share/doc/zr/examples/site.ini share/doc/zr/zrgate.md; do
    [ -e "$prefix/$f" ] || fail "$f is not installed"
  done
  # The man pages exist when help2man does (scripts/deps.sh installs it).
  if command -v help2man >/dev/null; then
    for page in zrtool zrsim zrgate; do
      [ -e "$prefix/share/man/man1/$page.1.gz" ] || fail "share/man/man1/$page.1.gz is not installed"
    done
    for word in site ca_file cert_file strict_permissions /status SIGUSR1 'Exit status'; do
      gzip -dc "$prefix/share/man/man1/zrgate.1.gz" | grep -qF -- "$word" || fail "zrgate.1 does not mention $word"
    done
  fi
  # The unit runs the program where the build's prefix puts it (not where this tree was moved).
  configured_prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:[A-Z]*=//p' "$build/CMakeCache.txt")
  configured_bindir=$(sed -n 's/^CMAKE_INSTALL_BINDIR:[A-Z]*=//p' "$build/CMakeCache.txt")
  [[ $configured_bindir = /* ]] || configured_bindir=$configured_prefix/${configured_bindir:-bin}
  unit=$prefix/lib/systemd/system/zrgate.service
  grep -qx "ExecStart=$configured_bindir/zrgate .*site.ini" "$unit" ||
    { grep Exec "$unit" >&2; fail "the unit does not start $configured_bindir/zrgate"; }
  grep -qx "StateDirectory=zrgate" "$unit" || fail "the unit has no StateDirectory=zrgate"
  env -u LD_LIBRARY_PATH "$prefix/bin/zrgate" --check "$prefix/share/doc/zr/examples/site.ini" >"$work/gate-check.log" 2>&1 ||
    { cat "$work/gate-check.log" >&2; fail "the moved zrgate does not accept the example site.ini"; }
  say "zrgate: program, man page, unit (ExecStart=$configured_bindir/zrgate), example site.ini: ok"
fi

# ---- Through the CMake package --------------------------------------------------------------
mkdir -p "$work/cmake-consumer"
cp "$root/examples/reset.c" "$work/cmake-consumer/"
cat >"$work/cmake-consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.16)
project(consumer C)
set(WANT 1.0 CACHE STRING "the version asked for")
find_package(zr ${WANT} REQUIRED)
add_executable(reset reset.c)
target_link_libraries(reset PRIVATE zr::zr)
EOF
cmake -S "$work/cmake-consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >"$work/cmake.log" 2>&1 ||
  { cat "$work/cmake.log" >&2; fail "find_package(zr 1.0) did not find the moved tree"; }
cmake --build "$work/cmake-build" >"$work/cmake-build.log" 2>&1 ||
  { cat "$work/cmake-build.log" >&2; fail "the CMake consumer does not build"; }
if cmake -S "$work/cmake-consumer" -B "$work/cmake-build-2" -DCMAKE_PREFIX_PATH="$prefix" -DWANT=2.0 \
    >"$work/cmake-2.log" 2>&1; then
  fail "find_package(zr 2.0) accepted version 1"
fi
say "CMake package: built; find_package(zr 2.0) refused"

# ---- Through pkg-config ---------------------------------------------------------------------
# The README's lines as they are written, with the moved tree (its path has spaces) in place
# of /opt/zr and examples/reset.c as app.c; the program must then find libzr.so.1 by itself.
readme_lines=$(awk '$0 == "```sh" { inside = 1; text = ""; next }
                    inside && /^```/ { if (index(text, "--libs-only-L")) { printf "%s", text; exit } inside = 0; next }
                    inside { text = text $0 "\n" }' "$root/README.md")
[ -n "$readme_lines" ] || fail "the README's pkg-config lines are not where this test looks"
pc_dir="$(dirname "$(find "$prefix" -name zr.pc)")"
mkdir -p "$work/pc-consumer"
cp "$root/examples/reset.c" "$work/pc-consumer/app.c"
# Everything but running ./app, which wants a reader of its own.
(cd "$work/pc-consumer" && eval "$(grep -v '^\./app' <<<"${readme_lines//\/opt\/zr\/lib\/pkgconfig/$pc_dir}")") ||
  fail "the README's pkg-config lines do not build"
cp "$work/pc-consumer/app" "$work/reset-pc"
PKG_CONFIG_PATH=$pc_dir
export PKG_CONFIG_PATH
say "pkg-config: built with $(pkg-config --modversion zr) as the README says"

# ---- Run both against the installed simulator -----------------------------------------------
# A loopback address of this run's own, so that parallel runs and other tests do not meet.
address=127.77.$(($$ % 250 + 1)).1
"$prefix/bin/zrsim" --tcp "$address" >"$work/zrsim.log" 2>&1 &
sim=$!
for _ in $(seq 100); do grep -q '^zrsim: serial ' "$work/zrsim.log" && break; sleep 0.05; done
pty=$(sed -n 's/^zrsim: serial //p' "$work/zrsim.log")
[ -n "$pty" ] || { cat "$work/zrsim.log" >&2; fail "zrsim did not start"; }
cat >"$work/reader.ini" <<EOF
[tcp]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$address

[serial]
ZR_PORT_TYPE=COM
ZR_COM_NUMBER=$pty
ZR_HOST_NAME=127.0.0.1
EOF
for program in "$work/cmake-build/reset" "$work/reset-pc"; do
  for section in tcp serial; do
    out=$(env -u LD_LIBRARY_PATH "$program" "$work/reader.ini" "$section" 2>&1) || { echo "$out" >&2; fail "$program $section"; }
    grep -qx 'ZRReset: 1' <<<"$out" || { echo "$out" >&2; fail "$program $section: no reset"; }
  done
done
say "both consumers reset the simulated reader over TCP and serial: ok"
