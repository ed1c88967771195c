#!/bin/sh
# The Windows DLLs: installs mingw-w64 and Wine when missing, cross-builds zr.dll for 32-bit
# (stdcall, the reference target) and 64-bit, checks both export tables against api/zr.def,
# and runs the scenario under Wine against zrsim over TCP and a COM port (run_wine_tests.sh).
#
# usage: .ci/windows.sh [--linux DIR]
#   --linux DIR  reuse a Linux build (zrsim, libzr.so and zr_scenario are made in it);
#                default build-wine/linux
# Builds go to build-wine/ (win32, win64, the Wine prefix and the results).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=$ROOT/build-wine
LINUX=$WORK/linux
JOBS=${ZR_JOBS:-2}
while [ $# -gt 0 ]; do
    case $1 in
        --linux) LINUX=$2; shift 2 ;;
        *) echo "windows.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
say() { echo "windows.sh: $*"; }
start=$(date +%s)

# ---- Tools ----------------------------------------------------------------------------------
missing=
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$missing g++-mingw-w64-i686"
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
command -v wine >/dev/null 2>&1 || missing="$missing wine"
[ -x /usr/lib/wine/wine ] || missing="$missing wine32:i386"      # runs the 32-bit DLL
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
if [ -n "$missing" ]; then
    say "installing$missing"
    sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        $sudo dpkg --add-architecture i386
    fi
    $sudo apt-get update -qq
    # Recommends (fonts, sound, GL) are not needed to run console programs.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# ---- Builds ---------------------------------------------------------------------------------
configure() {  # dir [toolchain]
    [ -f "$1/CMakeCache.txt" ] && return 0
    mkdir -p "$1"
    if [ $# -gt 1 ]; then
        cmake -S "$ROOT" -B "$1" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$2" >"$1/configure.log" 2>&1
    else
        cmake -S "$ROOT" -B "$1" >"$1/configure.log" 2>&1
    fi || { cat "$1/configure.log" >&2; exit 1; }
}
make_in() {  # dir targets...
    dir=$1
    shift
    make -C "$dir" -j"$JOBS" "$@" >"$dir/build.log" 2>&1 || { tail -40 "$dir/build.log" >&2; exit 1; }
}
say "building zr.dll (i686, x86_64) and the Linux reference"
configure "$WORK/win32" mingw-i686.cmake
configure "$WORK/win64" mingw-x86_64.cmake
configure "$LINUX"
make_in "$WORK/win32" zr zr_scenario
make_in "$WORK/win64" zr zr_scenario
make_in "$LINUX" zr zrsim zr_scenario

# ---- Export tables --------------------------------------------------------------------------
for arch in win32 win64; do
    ctest --test-dir "$WORK/$arch" -R '^zr_exports$' --output-on-failure >"$WORK/$arch/exports.log" 2>&1 ||
        { cat "$WORK/$arch/exports.log" >&2; say "FAILED: the $arch export table"; exit 1; }
    say "$arch export table matches api/zr.def"
done

# ---- Under Wine -----------------------------------------------------------------------------
"$ROOT/tests/windows/run_wine_tests.sh" --no-build --linux "$LINUX" --win32 "$WORK/win32" --win64 "$WORK/win64" \
    --prefix "$WORK/wineprefix"
say "passed in $(($(date +%s) - start)) s"
