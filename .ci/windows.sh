#!/bin/sh
# The Windows DLLs: installs mingw-w64 and Wine when missing, cross-builds zr.dll and zrtool.exe
# for 32-bit (stdcall, the reference target) and 64-bit, checks both export tables against
# api/zr.def, and runs the scenario and zrtool.exe under Wine against zrsim over TCP and a COM
# port (run_wine_tests.sh).
# A host that cannot run 32-bit programs cannot start 32-bit Wine: there the 32-bit DLL is
# built (zrtool.exe too) and its export table checked, and only the 64-bit builds run under Wine.
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

# ---- Can this host run 32-bit programs? -----------------------------------------------------
# Some kernels and containers run no 32-bit x86 program at all, and then 32-bit Wine cannot
# start. Asked of the kernel itself, with a static 32-bit program that only exits 0 (232 bytes,
# gzip and base64), so the answer depends on no package being installed.
runs_32bit() {
    mkdir -p "$WORK"
    probe=$WORK/exit32
    echo 'H4sICGr2GGsCA3QzMmV4aXQAq3f1cWNkZGSAASYGZgYQL6SBhcMESBdAxU0YFIDiGkBZJog8VA0IcwLZIMwKxCC5HSDC8PbZBga94ozikqKSxCQGvZLUihIG4gE31Cw2mD1QO2CAEYlmRhKPBWJBLOoAQI+EZ+gAAAA=' |
        base64 -d | gzip -dc >"$probe" && chmod +x "$probe" && ("$probe") >/dev/null 2>&1
    ok=$?
    rm -f "$probe"
    return $ok
}
RUN32=1
runs_32bit || RUN32=0

# ---- Tools ----------------------------------------------------------------------------------
missing=
command -v i686-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$missing g++-mingw-w64-i686"
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 || missing="$missing g++-mingw-w64-x86-64"
command -v wine >/dev/null 2>&1 || missing="$missing wine"
if [ "$RUN32" = 1 ]; then
    [ -x /usr/lib/wine/wine ] || missing="$missing wine32:i386"  # runs the 32-bit DLL
fi
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
if [ -n "$missing" ]; then
    say "installing$missing"
    sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    if [ "$RUN32" = 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
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
make_in "$WORK/win32" zr zr_scenario zrtool
make_in "$WORK/win64" zr zr_scenario zrtool
make_in "$LINUX" zr zrsim zr_scenario

# ---- Export tables --------------------------------------------------------------------------
for arch in win32 win64; do
    ctest --test-dir "$WORK/$arch" -R '^zr_exports$' --output-on-failure >"$WORK/$arch/exports.log" 2>&1 ||
        { cat "$WORK/$arch/exports.log" >&2; say "FAILED: the $arch export table"; exit 1; }
    say "$arch export table matches api/zr.def"
done

# ---- Under Wine -----------------------------------------------------------------------------
set -- --win32 "$WORK/win32"
only=
if [ "$RUN32" = 0 ]; then
    say "this host cannot run 32-bit programs: the 32-bit zr.dll is built and its export table checked, but not run here"
    set -- --no-win32
    only=" (under Wine: the 64-bit DLL only)"
fi
"$ROOT/tests/windows/run_wine_tests.sh" --no-build --linux "$LINUX" "$@" --win64 "$WORK/win64" \
    --prefix "$WORK/wineprefix"
say "passed in $(($(date +%s) - start)) s$only"
