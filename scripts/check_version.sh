#!/usr/bin/env bash
# Checks that every place the version shows agrees with the project version of CMakeLists.txt
# (the one number): zr.h's macros, and whichever of these are given:
#   --lib libzr.so.N    ZRVersion() of the library (with python3), its soname and file name
#   --tool zrtool       zrtool --version: its own version and the loaded library's
#   --dll zr.dll        the file version in the DLL's version resource (repeatable)
#   --deb FILE          a package's version (repeatable); the library, zr.h, zr.pc and CMake
#                       version file in the packages given
#   --zip FILE          the archive's name, the zr.h and both DLLs in it (zrtool.exe beside each)
# usage: scripts/check_version.sh [--lib F] [--tool F] [--dll F]... [--deb F] [--zip F]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
status=0
ok() { echo "check_version: $1: $2"; }
bad() { echo "check_version: MISMATCH: $1: $2 (want $version)" >&2; status=1; }
same() {  # what found
  if [ "$2" = "$version" ]; then ok "$1" "$2"; else bad "$1" "$2"; fi
}

version=$(sed -n 's/^project(zr VERSION \([0-9][0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "check_version: no project version in CMakeLists.txt" >&2; exit 1; }
major=${version%%.*}
echo "check_version: project version $version"

header_version() {  # zr.h -> "MAJOR.MINOR.PATCH STRING"
  local m n p s
  m=$(sed -n 's/^#define ZR_VERSION_MAJOR \([0-9]*\)$/\1/p' "$1")
  n=$(sed -n 's/^#define ZR_VERSION_MINOR \([0-9]*\)$/\1/p' "$1")
  p=$(sed -n 's/^#define ZR_VERSION_PATCH \([0-9]*\)$/\1/p' "$1")
  s=$(sed -n 's/^#define ZR_VERSION_STRING "\([^"]*\)"$/\1/p' "$1")
  same "$2 macros" "$m.$n.$p"
  same "$2 ZR_VERSION_STRING" "$s"
}

dll_version() {  # zr.dll label: the fixed file information (signature FEEF04BD)
  local v
  v=$(python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
if at < 0:
    print("none")
else:
    ms, ls = struct.unpack_from("<II", data, at + 8)
    print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")
EOF
)
  same "$2 file version" "$v"
}

lib_version() {  # libzr.so.N label
  local soname file runtime
  soname=$(readelf -d "$1" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  if [ "$soname" = "libzr.so.$major" ]; then ok "$2 soname" "$soname"; else bad "$2 soname" "$soname"; fi
  file=$(basename "$(readlink -f "$1")")
  same "$2 file name" "${file#libzr.so.}"
  command -v python3 >/dev/null || { echo "check_version: no python3: ZRVersion() of $2 not called"; return; }
  runtime=$(python3 -c 'import ctypes, sys
f = ctypes.CDLL(sys.argv[1]).ZRVersion
f.restype = ctypes.c_char_p
print(f().decode())' "$(readlink -f "$1")")
  same "$2 ZRVersion()" "$runtime"
}

header_version "$root/api/zr.h" "api/zr.h"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
while [ $# -gt 0 ]; do
  case $1 in
    --lib) lib_version "$2" "$(basename "$2")"; shift 2 ;;
    --dll) dll_version "$2" "$2"; shift 2 ;;
    --tool)
      out=$("$2" --version)
      same "zrtool" "$(sed -n 's/^zrtool \([^ ]*\)$/\1/p' <<<"$out")"
      same "zrtool: loaded library" "$(sed -n 's/^library \([^,]*\),.*/\1/p' <<<"$out")"
      shift 2 ;;
    --deb)
      # The packages split the files: each is unpacked into one tree, checked after the loop.
      same "$(basename "$2") Version" "$(dpkg-deb -f "$2" Version)"
      mkdir -p "$tmp/deb" && dpkg-deb -x "$2" "$tmp/deb"
      debs=1
      shift 2 ;;
    --zip)
      name=$(basename "$2" .zip)
      name=${name#zr-}
      same "$(basename "$2") name" "${name%-windows}"
      rm -rf "$tmp/zip" && mkdir -p "$tmp/zip" && zip_file=$(readlink -f "$2") && (cd "$tmp/zip" && cmake -E tar xf "$zip_file")
      header_version "$(find "$tmp/zip" -name zr.h | head -1)" "zip zr.h"
      dlls=$(find "$tmp/zip" -name zr.dll | sort)
      [ "$(echo "$dlls" | grep -c .)" = 2 ] || bad "zip" "not two zr.dll"
      for d in $dlls; do
        dll_version "$d" "zip ${d#"$tmp/zip/"}"
        [ -f "$(dirname "$d")/zrtool.exe" ] || bad "zip" "no zrtool.exe beside ${d#"$tmp/zip/"}"
      done
      shift 2 ;;
    *) echo "check_version: unknown argument '$1'" >&2; exit 2 ;;
  esac
done
if [ -n "${debs:-}" ]; then
  lib=$(find "$tmp/deb" -name "libzr.so.$major" | head -1)
  if [ -n "$lib" ]; then lib_version "$lib" "deb libzr"; else bad "deb" "no libzr.so.$major"; fi
  header_version "$(find "$tmp/deb" -name zr.h | head -1)" "deb zr.h"
  same "deb zr.pc" "$(sed -n 's/^Version: //p' "$(find "$tmp/deb" -name zr.pc | head -1)")"
  same "deb zrConfigVersion.cmake" "$(sed -n 's/^set(PACKAGE_VERSION "\(.*\)")$/\1/p' \
    "$(find "$tmp/deb" -name zrConfigVersion.cmake | head -1)")"
fi
[ "$status" = 0 ] && echo "check_version: all agree on $version"
exit "$status"
