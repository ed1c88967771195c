#!/bin/sh
# Runs the scenario program (tests/windows/scenario.c) natively on Linux against libzr.so and
# under Wine against zr.dll (32-bit and 64-bit, or either alone), each time against a fresh zrsim,
# over loopback TCP and over a pseudo-terminal that Wine sees as COM17. The Wine output must
# equal the Linux output of the same link line for line, and zrsim must have got the same
# requests; the library's wire trace (ZR_TRACE) must agree with zrsim's frame for frame;
# every run must pass its own checks; every name in api/zr.def must have a row in
# the scenario. Then zrtool.exe of each build, beside its zr.dll, resets zrsim, takes an
# inventory, runs a two-line script (identify, report) and encodes a tag, over TCP and COM17.
#
# usage: run_wine_tests.sh [--linux DIR] [--win32 DIR|--no-win32] [--win64 DIR|--no-win64]
#                          [--prefix DIR] [--no-build] [--linux-only]
#   --linux DIR   Linux build with zrsim, libzr.so and zr_scenario (default build-wine/linux)
#   --win32 DIR   mingw i686 build with zr.dll, zr_scenario.exe and zrtool.exe (default build-wine/win32);
#                 --no-win32 skips it (hosts that cannot run 32-bit programs, so no 32-bit Wine)
#   --win64 DIR   mingw x86_64 build (default build-wine/win64); --no-win64 skips it
#   --prefix DIR  the Wine prefix (default build-wine/wineprefix; created when missing)
#   --no-build    use the builds as they are (default: configure when needed, then make)
#   --linux-only  only the Linux runs (to try new scenario rows quickly); no Wine needed
# Needs no display. Exit status 0 when everything matched.
set -eu

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
WORK=$ROOT/build-wine
LINUX=$WORK/linux
WIN32=$WORK/win32
WIN64=$WORK/win64
PREFIX=
BUILD=1
LINUX_ONLY=0
JOBS=${ZR_JOBS:-2}

while [ $# -gt 0 ]; do
    case $1 in
        --linux) LINUX=$2; shift 2 ;;
        --win32) WIN32=$2; shift 2 ;;
        --no-win32) WIN32=; shift ;;
        --win64) WIN64=$2; shift 2 ;;
        --no-win64) WIN64=; shift ;;
        --prefix) PREFIX=$2; shift 2 ;;
        --no-build) BUILD=0; shift ;;
        --linux-only) LINUX_ONLY=1; shift ;;
        *) echo "run_wine_tests: unknown argument '$1'" >&2; exit 2 ;;
    esac
done
abs() { mkdir -p "$1" && (cd "$1" && pwd); }
LINUX=$(abs "$LINUX")
[ "$LINUX_ONLY" = 1 ] || [ -z "$WIN32" ] || WIN32=$(abs "$WIN32")
[ "$LINUX_ONLY" = 1 ] || [ -z "$WIN64" ] || WIN64=$(abs "$WIN64")
[ -n "$PREFIX" ] || PREFIX=$WORK/wineprefix
[ "$LINUX_ONLY" = 1 ] || PREFIX=$(abs "$PREFIX")
RESULTS=$(abs "$WORK/results")
rm -f "$RESULTS"/*.txt "$RESULTS"/*.ini "$RESULTS"/*.log "$RESULTS"/*.zrtrace

say() { echo "run_wine_tests: $*"; }
fail() { echo "run_wine_tests: FAILED: $*" >&2; exit 1; }

# ---- Builds ---------------------------------------------------------------------------------
build() {  # dir toolchain-or-empty targets...
    dir=$1 toolchain=$2
    shift 2
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        if [ -n "$toolchain" ]; then
            cmake -S "$ROOT" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" >"$dir/configure.log" 2>&1 ||
                { cat "$dir/configure.log" >&2; fail "cannot configure $dir"; }
        else
            cmake -S "$ROOT" -B "$dir" >"$dir/configure.log" 2>&1 ||
                { cat "$dir/configure.log" >&2; fail "cannot configure $dir"; }
        fi
    fi
    make -C "$dir" -j"$JOBS" "$@" >"$dir/build.log" 2>&1 || { tail -40 "$dir/build.log" >&2; fail "cannot build $dir"; }
}
if [ "$LINUX_ONLY" = 1 ]; then
    WIN32=
    WIN64=
fi
if [ "$BUILD" = 1 ]; then
    say "building (Linux${WIN32:+, i686}${WIN64:+, x86_64})"
    build "$LINUX" "" zr zrsim zr_scenario
    [ -z "$WIN32" ] || build "$WIN32" mingw-i686.cmake zr zr_scenario zrtool
    [ -z "$WIN64" ] || build "$WIN64" mingw-x86_64.cmake zr zr_scenario zrtool
fi
for f in "$LINUX/zrsim" "$LINUX/libzr.so" "$LINUX/zr_scenario" \
    ${WIN32:+"$WIN32/zr.dll" "$WIN32/zr_scenario.exe" "$WIN32/zrtool.exe"} \
    ${WIN64:+"$WIN64/zr.dll" "$WIN64/zr_scenario.exe" "$WIN64/zrtool.exe"}; do
    [ -e "$f" ] || fail "$f is missing (build it, or drop --no-build)"
done

# ---- Coverage: a scenario row for every export ---------------------------------------------
sed -e 's/;.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]].*//' "$ROOT/api/zr.def" |
    awk 'found && NF { print } /^EXPORTS$/ { found = 1 }' | sort >"$RESULTS/exports.txt"
"$LINUX/zr_scenario" --list | sort >"$RESULTS/rows.txt"
uncovered=$(comm -23 "$RESULTS/exports.txt" "$RESULTS/rows.txt")
[ -z "$uncovered" ] || fail "exports without a scenario row: $(echo $uncovered)"
say "$(wc -l <"$RESULTS/exports.txt") exports, each with a scenario row"

# ---- Wine -----------------------------------------------------------------------------------
SIM_PID=
wine_cmd=wine
wineserver_cmd=wineserver
cleanup() {
    [ -z "$SIM_PID" ] || kill "$SIM_PID" 2>/dev/null || true
    [ "$LINUX_ONLY" = 1 ] || "$wineserver_cmd" -k >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "$LINUX_ONLY" = 0 ]; then
    export WINEPREFIX="$PREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY 2>/dev/null || true
    if [ -z "$WIN32" ]; then
        # 64-bit only: the 64-bit loader itself, as a launcher that prefers 32-bit Wine would
        # pick one that may be installed and yet cannot start here. Debian has it in
        # /usr/lib/wine, other systems call it wine64, Wine's new WoW64 only has wine.
        if [ -x /usr/lib/wine/wine64 ]; then
            wine_cmd=/usr/lib/wine/wine64
        elif command -v wine64 >/dev/null; then
            wine_cmd=$(command -v wine64)
        fi
        [ "$wine_cmd" = wine ] || export WINELOADER="$wine_cmd"
        [ -f "$PREFIX/system.reg" ] || export WINEARCH=win64
        if grep -qx '#arch=win32' "$PREFIX/system.reg" 2>/dev/null; then
            fail "$PREFIX is a 32-bit Wine prefix, which cannot run the 64-bit DLL: remove it"
        fi
    fi
    command -v "$wine_cmd" >/dev/null || fail "wine is not installed"
    if ! command -v "$wineserver_cmd" >/dev/null; then
        for s in /usr/lib/wine/wineserver wineserver64; do
            if command -v "$s" >/dev/null; then wineserver_cmd=$s; break; fi
        done
    fi
    if [ ! -f "$PREFIX/system.reg" ]; then
        say "creating the Wine prefix $PREFIX (once)"
        "$wine_cmd" wineboot -i >"$RESULTS/wineboot.log" 2>&1 </dev/null ||
            { cat "$RESULTS/wineboot.log" >&2; fail "wineboot"; }
    fi
    # One wineserver for all runs, instead of one start-up per run.
    "$wineserver_cmd" -p </dev/null >/dev/null 2>&1 || true
fi

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

# Wine's output into a file, never a pipe: the helper processes Wine starts (services,
# device drivers) inherit it and would hold a pipe open after the program has ended.
wine_run() {  # output-file program args...
    out_file=$1
    shift
    rc_wine=0
    timeout 300 "$wine_cmd" "$@" >"$out_file.raw" 2>&1 </dev/null || rc_wine=$?
    tr -d '\r' <"$out_file.raw" >"$out_file"
    rm -f "$out_file.raw"
    return $rc_wine
}

# ---- Runs -----------------------------------------------------------------------------------
# A loopback network of its own for this run of the script; .1 serves, .2 refuses.
NET=127.$((100 + $$ % 100)).$(($$ / 100 % 250 + 1))
COM=COM17
com_link=$PREFIX/dosdevices/$(echo "$COM" | tr A-Z a-z)

start_sim() {  # name -> SIM_PID, PTS
    log=$RESULTS/$1.zrsim.log
    "$LINUX/zrsim" --tcp "$NET.1" --trace >"$log" 2>&1 &
    SIM_PID=$!
    i=0
    while ! grep -q '^zrsim: serial ' "$log" 2>/dev/null; do
        i=$((i + 1))
        [ $i -lt 100 ] && kill -0 "$SIM_PID" 2>/dev/null || { cat "$log" >&2; fail "zrsim did not start"; }
        sleep 0.05
    done
    PTS=$(sed -n 's/^zrsim: serial //p' "$log")
}
stop_sim() {
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=
}

write_ini() {  # file serial-port missing-port
    cat >"$1" <<EOF
[tcp]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$NET.1

[serial]
ZR_PORT_TYPE=COM
ZR_COM_NUMBER=$2
ZR_HOST_NAME=127.0.0.1

[udp]
ZR_PORT_TYPE=UDP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$NET.1

[empty]
ZR_PORT_TYPE=
ZR_COM_NUMBER=
ZR_HOST_NAME=

[refused]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$NET.2

[nocom]
ZR_PORT_TYPE=COM
ZR_COM_NUMBER=$3
ZR_HOST_NAME=127.0.0.1

[sometimes]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$NET.1
ZR_REPLY_TIMING=sometimes

[tcp whole]
ZR_PORT_TYPE=TCP
ZR_COM_NUMBER=COM1
ZR_HOST_NAME=$NET.1
ZR_REPLY_TIMING=whole

[serial whole]
ZR_PORT_TYPE=COM
ZR_COM_NUMBER=$2
ZR_HOST_NAME=127.0.0.1
ZR_REPLY_TIMING=Whole
EOF
}

status=0
run() {  # build-name link
    name=$1-$2
    out=$RESULTS/$name.txt
    start_sim "$name"
    started=$(date +%s)
    if [ "$1" = linux ]; then
        write_ini "$RESULTS/$name.ini" "$PTS" /dev/zr-no-such-port
        ZR_TRACE=$RESULTS/$name.zrtrace timeout 300 "$LINUX/zr_scenario" "$LINUX/libzr.so" "$RESULTS/$name.ini" "$2" \
            >"$out" 2>&1 || rc=$?
    else
        dir=$WIN32
        [ "$1" = win32 ] || dir=$WIN64
        # The pseudo-terminal as a COM port above 9, which needs the \\.\ device name.
        ln -sfn "$PTS" "$com_link"
        write_ini "$RESULTS/$name.ini" "$COM" COM42
        ZR_TRACE=$(winpath "$RESULTS/$name.zrtrace") wine_run "$out" "$dir/zr_scenario.exe" "$(winpath "$dir/zr.dll")" \
            "$(winpath "$RESULTS/$name.ini")" "$2" || rc=$?
    fi
    : "${rc:=0}"
    stop_sim
    if ! tail -1 "$out" | grep -q 'failed checks$'; then
        echo "run_wine_tests: $name: the scenario stopped (exit status $rc) in the call:" >&2
        tail -1 "$out" | cut -c1-300 | sed 's/^/  /' >&2
        status=1
    elif [ "$rc" != 0 ] || ! tail -1 "$out" | grep -q '^0 failed checks$'; then
        echo "run_wine_tests: $name: the scenario failed its own checks (see $out):" >&2
        grep -E '<-- expected|missing$|cannot load' "$out" | head -20 | sed 's/^/  /' >&2
        tail -1 "$out" | sed 's/^/  /' >&2
        status=1
    fi
    say "$name: $(grep -c '(' "$out") calls in $(($(date +%s) - started)) s"
    unset rc
    agree "$name"
}

# The library's trace (ZR_TRACE) and zrsim's must tell the same story: every request the
# library sent is one zrsim got, in the same order; every frame the library read is one
# zrsim sent, in order (frames the library never read, because a session ended before it
# looked, are missing from its side only).
agree() {  # run-name
    lib=$RESULTS/$1.zrtrace
    sim=$RESULTS/$1.zrsim.log
    [ -s "$lib" ] || { echo "run_wine_tests: $1: the library wrote no trace to $lib" >&2; status=1; return; }
    tr -d '\r' <"$lib" | awk -F ' [|] ' '$4 == "->" && $8 == "sent" { print $6 }' >"$RESULTS/$1.lib-sent.txt"
    tr -d '\r' <"$lib" | awk -F ' [|] ' '$4 == "<-" && $8 != "bad CRC" { print $6 }' >"$RESULTS/$1.lib-read.txt"
    sed -n 's/^<- \([0-9A-F ]*[0-9A-F]\)  .*/\1/p' "$sim" >"$RESULTS/$1.sim-got.txt"
    sed -n 's/^-> \([0-9A-F ]*[0-9A-F]\)  .*/\1/p' "$sim" >"$RESULTS/$1.sim-sent.txt"
    if ! cmp -s "$RESULTS/$1.lib-sent.txt" "$RESULTS/$1.sim-got.txt"; then
        echo "run_wine_tests: $1: the library's trace sent other frames than zrsim got (< library, > zrsim):" >&2
        diff "$RESULTS/$1.lib-sent.txt" "$RESULTS/$1.sim-got.txt" | head -20 | sed 's/^/  /' >&2
        status=1
        return
    fi
    missing=$(awk 'BEGIN { i = 0; n = 0 } NR == FNR { sent[n++] = $0; next }
                   { while (i < n && sent[i] != $0) i++; if (i == n) { print FNR ": " $0; exit } i++ }' \
        "$RESULTS/$1.sim-sent.txt" "$RESULTS/$1.lib-read.txt")
    if [ -n "$missing" ]; then
        echo "run_wine_tests: $1: the library read a frame zrsim did not send then (line $missing)" >&2
        status=1
        return
    fi
    say "$1: library and zrsim traces agree ($(wc -l <"$RESULTS/$1.lib-sent.txt") frames sent, $(wc -l <"$RESULTS/$1.lib-read.txt") read)"
}

# Lines whose values are known, beyond the table's own expectations.
known() {  # file line
    grep -qxF "$2" "$1" || { echo "run_wine_tests: $(basename "$1"): missing the line: $2" >&2; status=1; }
}

compare() {  # build-name link
    a=$RESULTS/linux-$2.txt
    b=$RESULTS/$1-$2.txt
    if cmp -s "$a" "$b"; then
        say "$1 $2: same $(wc -l <"$b") lines as Linux"
    else
        echo "run_wine_tests: $1 $2: Wine output differs from Linux (< Linux, > Wine):" >&2
        diff "$a" "$b" | head -40 | sed 's/^/  /' >&2
        status=1
    fi
    # The requests the simulator got: arguments that show in no output still reach it.
    for n in "linux-$2" "$1-$2"; do grep '^<-' "$RESULTS/$n.zrsim.log" >"$RESULTS/$n.requests.txt" || true; done
    a=$RESULTS/linux-$2.requests.txt
    b=$RESULTS/$1-$2.requests.txt
    if cmp -s "$a" "$b"; then
        say "$1 $2: zrsim got the same $(wc -l <"$b") requests as from Linux"
    else
        echo "run_wine_tests: $1 $2: zrsim got other requests than from Linux (< Linux, > Wine):" >&2
        diff "$a" "$b" | head -40 | sed 's/^/  /' >&2
        status=1
    fi
}

builds="${WIN32:+win32}${WIN64:+ win64}"
for b in $builds; do
    dir=$WIN32
    [ "$b" = win32 ] || dir=$WIN64
    wine_run "$RESULTS/$b-resources.log" "$dir/zr_scenario.exe" --resources "$(winpath "$dir/zr.dll")" || true
    if grep -qx 'resources: ok' "$RESULTS/$b-resources.log"; then
        say "$b: start-up message and version resources ok"
    else
        sed 's/^/  /' "$RESULTS/$b-resources.log" >&2
        status=1
    fi
done

for link in tcp serial; do
    run linux "$link"
    for b in $builds; do
        run "$b" "$link"
        compare "$b" "$link"
    done
done
for f in "$RESULTS"/*-tcp.txt "$RESULTS"/*-serial.txt; do
    known "$f" 'ZRReset(h) = 1'
    known "$f" 'ZRReset(-1) = -1'
done
# The cause of the second open of a serial port, as the scenario prints texts (in hex).
in_use=$(printf 'port <path> is in use' | od -An -tx1 | tr -d ' \n' | tr a-f A-F)
for f in "$RESULTS"/*-serial.txt; do
    known "$f" 'ZROpen(&second=-1, ini, "serial") = -13 second=-1'
    known "$f" "ZRLastCause() = \"$in_use\""
done
# ZRNetAddrSet recorded the reader's new address in the session's INI file.
for f in "$RESULTS"/*-tcp.ini "$RESULTS"/*-serial.ini; do
    keys=$(tr -d '\r' <"$f" | awk '/^\[/ { s = $0; next } s == "[scenario network]"')
    for k in ZR_HOST_NAME=10.1.2.3 ZR_SUBNET=255.255.0.0 ZR_GATE=10.1.0.254; do
        printf '%s\n' "$keys" | grep -qxF "$k" ||
            { echo "run_wine_tests: $(basename "$f"): no $k in [scenario network]" >&2; status=1; }
    done
done

# ---- zrtool.exe ------------------------------------------------------------------------------
# The tool as a Windows user runs it, beside its zr.dll, against zrsim over TCP and the COM port:
# a reset, an inventory, a script whose report collects what its identify started, and an
# encode.
printf 'identify\r\nreport\r\n' >"$RESULTS/split.zr"
tool_run() {  # build-name name expected-line args...
    b=$1 name=$2 expected=$3
    shift 3
    dir=$WIN32
    [ "$b" = win32 ] || dir=$WIN64
    out=$RESULTS/$b-zrtool-$name.txt
    rc=0
    wine_run "$out" "$dir/zrtool.exe" "$@" || rc=$?
    if [ "$rc" = 0 ] && grep -qxF "$expected" "$out"; then
        say "$b zrtool.exe $name: $expected"
    else
        echo "run_wine_tests: $b zrtool.exe $name: exit status $rc, no line '$expected':" >&2
        head -20 "$out" | sed 's/^/  /' >&2
        status=1
    fi
}
for b in $builds; do
    start_sim "$b-zrtool"
    ln -sfn "$PTS" "$com_link"
    tool_run "$b" version "library $(sed -n 's/^project(zr VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt"), ${b#win}-bit" --version
    tool_run "$b" tcp-reset 'reset: 1 ok' --tcp "$NET.1" reset
    tool_run "$b" com-reset 'reset: 1 ok' --serial "$COM" reset
    tool_run "$b" tcp-inventory 'inventory: 3 tags' --tcp "$NET.1" inventory
    tool_run "$b" com-inventory 'inventory: 3 tags' --serial "$COM" inventory
    tool_run "$b" com-run 'report: 1 ok' --serial "$COM" run "$(winpath "$RESULTS/split.zr")"
    # Encoding the middle one of zrsim's three tags, over each link, read back and compared.
    epc=300833B2DDD90140000000
    tool_run "$b" tcp-encode "encode by-epc:${epc}02: ok (read back and compared)" \
        --tcp "$NET.1" --timing whole encode --by-epc "${epc}02" --epc "${epc}AA" --user 0:C0FFEE01
    tool_run "$b" com-encode "encode by-epc:${epc}AA: ok (read back and compared)" \
        --serial "$COM" encode --by-epc "${epc}AA" --epc "${epc}BB"
    stop_sim
done

[ "$status" = 0 ] || fail "see above; outputs and zrsim traces in $RESULTS"
say "all runs passed"
