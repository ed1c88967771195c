#!/usr/bin/env bash
# The README's examples, run as a reader of it would: the C snippets of "Using the library"
# built into one program and run against zrsim over TCP and over its pseudo-terminal, and the
# zrtool lines that need no reader of their own.
# usage: readme_test.sh README C_COMPILER INCLUDE_DIR LIBZR ZRSIM ZRTOOL
set -euo pipefail
readme=$1 cc=$2 include=$3 lib=$4 zrsim=$5 zrtool=$6
work=$(mktemp -d)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT

# The first fenced block of the given language that holds `marker`.
block() {
  awk -v lang="$1" -v marker="$2" '
    $0 == "```" lang { inside = 1; text = ""; next }
    inside && /^```/ { if (index(text, marker)) { printf "%s", text; exit } inside = 0; next }
    inside { text = text $0 "\n" }' "$readme"
}

open_close=$(block c 'ZROpen(&handle, "reader.ini"') inventory=$(block c ZREpcCodeReport)
[ -n "$open_close" ] && [ -n "$inventory" ] || { echo "the README's snippets are not where this test looks"; exit 1; }
cat >"$work/readme.c" <<C
#include <stdio.h>
#include <time.h>
#include "zr.h"
static int opened, reset_result, tags;
#define ZROpen(h, p, s) (opened = ZROpen(h, p, s))
#define ZRReset(h) (reset_result = ZRReset(h))
static void pause_ms(int ms) {
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, NULL);
}
static void print_epc(const unsigned char* epc, int n) {
    ++tags;
    for (int i = 0; i < n; ++i) printf("%02X", epc[i]);
    printf("\n");
}
static void open_close(void) {
$open_close
}
int main(void) {
    open_close();
    if (opened != ZR_OK || reset_result != ZR_OK) {
        fprintf(stderr, "open %d, reset %d\n", opened, reset_result);
        return 1;
    }
    int handle = -1;
    if (ZROpen(&handle, "reader.ini", "reader") != ZR_OK) return 1;
    {
$inventory
    }
    ZRClose(&handle);
    printf("%d tags\n", tags);
    return tags == 3 ? 0 : 1;
}
C
"$cc" -std=c99 -D_POSIX_C_SOURCE=200809L -Wall -Wno-unused-variable -I"$include" -o "$work/readme" "$work/readme.c" "$lib" -Wl,-rpath,"$(dirname "$lib")"

# A simulator of our own, on an address of our own, and nobody else's.
address=127.$((RANDOM % 200 + 20)).$((RANDOM % 250 + 1)).$((RANDOM % 250 + 1))
"$zrsim" --tcp "$address" >"$work/sim.out" &
sim=$!
for _ in $(seq 100); do grep -q '^zrsim: serial' "$work/sim.out" && break; kill -0 "$sim" || break; sleep 0.05; done
pty=$(awk '/^zrsim: serial/ {print $3}' "$work/sim.out")
[ -n "$pty" ] || { echo "zrsim did not start:"; cat "$work/sim.out"; exit 1; }

block ini '[reader]' >"$work/readme.ini"
for link in TCP COM; do
  sed -e "s|^ZR_PORT_TYPE=[A-Z]*|ZR_PORT_TYPE=$link|" -e "s|^ZR_HOST_NAME=[0-9.]*|ZR_HOST_NAME=$address|" \
      -e "s|^ZR_COM_NUMBER=[^ ]*|ZR_COM_NUMBER=$pty|" "$work/readme.ini" >"$work/reader.ini"
  echo "== $link"
  (cd "$work" && ./readme)
done

# The zrtool lines that bring their own reader or need none, from the top of the tree as the
# README writes them.
cd "$(dirname "$readme")"
awk '/^```sh/ { inside = 1; next } /^```/ { inside = 0 } inside' "$readme" |
  grep -E -- '^build/tools/zrtool/zrtool (--simulate|decode|--help)' | while read -r line; do
  line=${line%%#*}
  echo "== $line"
  eval "${line/build\/tools\/zrtool\/zrtool/\"$zrtool\"}" >/dev/null
done
echo "README examples: ok"
