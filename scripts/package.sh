#!/usr/bin/env bash
# Makes the packages of the project version into build-pkg/dist/ and checks them:
#   libzr1_VERSION_ARCH.deb     libzr.so.1 (the run-time library)
#   libzr-dev_VERSION_ARCH.deb  zr.h, libzr.so, CMake package, zr.pc
#   zr-tools_VERSION_ARCH.deb   zrtool, zrsim and their man pages
#   zrgate_VERSION_ARCH.deb     zrgate, its man page, systemd unit and example site.ini
#                               (cpack, one package per component; lintian must report no error)
#   zr-VERSION-windows.zip   zr.dll for x86 and x64, each with its import libraries for MinGW
#                            (libzr.dll.a) and MSVC (zr.lib) and zrtool.exe beside it; zr.h,
#                            zr.def, README, licence, docs/windows.md
# then scripts/check_version.sh on both.
# usage: scripts/package.sh [--deb-only | --zip-only]
# Needs: cmake, g++, help2man, dpkg-dev, lintian (deb); mingw-w64, llvm (zip; llvm-dlltool
# makes the MSVC import libraries, else GNU dlltool's are copied under that name).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
deb=1 zip=1
case ${1:-} in
  --deb-only) zip=0 ;;
  --zip-only) deb=0 ;;
  "") ;;
  *) echo "usage: $0 [--deb-only | --zip-only]" >&2; exit 2 ;;
esac
jobs=$(nproc)
version=$(sed -n 's/^project(zr VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$root/build-pkg/dist
mkdir -p "$dist"
say() { echo "package: $*"; }

# ---- Debian package -----------------------------------------------------------------------------
if [ "$deb" = 1 ]; then
  for tool in help2man lintian dpkg-shlibdeps; do
    command -v $tool >/dev/null || { echo "package: $tool is missing (apt install help2man lintian dpkg-dev)" >&2; exit 1; }
  done
  # Debian's hardening flags, all of them (fortified functions, bind-now, relro, PIE, stack protector).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  CFLAGS=$(dpkg-buildflags --get CFLAGS) CXXFLAGS=$(dpkg-buildflags --get CXXFLAGS)
  CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS) LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
  export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS" LDFLAGS
  # A build directory made before these flags keeps its old ones: start again.
  grep -q -- "-z,now" build-pkg/CMakeCache.txt 2>/dev/null || rm -rf build-pkg/CMakeCache.txt build-pkg/CMakeFiles
  # System paths, no RPATH (the library is in the loader's path), documents per package, the
  # unit where Debian's systemd looks, no tests.
  cmake -S . -B build-pkg -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
        -DZR_INSTALL_RPATH=OFF -DZR_DEBIAN_LAYOUT=ON -DZR_SYSTEMD_UNIT_DIR=/lib/systemd/system \
        -DZR_BUILD_TESTS=OFF >/dev/null
  cmake --build build-pkg -j"$jobs" >/dev/null
  rm -f build-pkg/*.deb
  (cd build-pkg && cpack -G DEB >/dev/null)
  deb_files=()
  for name in libzr1 libzr-dev zr-tools zrgate; do
    deb_file=$(ls build-pkg/"$name"_"$version"_*.deb 2>/dev/null) ||
      { [ "$name" = zrgate ] && { say "no zrgate package: libmosquitto-dev missing"; continue; }
        echo "package: cpack made no $name package" >&2; exit 1; }
    if [ "$name" = libzr1 ]; then
      # CPack's postinst and postrm only call ldconfig, which the package's ldconfig trigger
      # already does (lintian: maintscript-calls-ldconfig): rebuilt without them.
      rm -rf build-pkg/unpacked && dpkg-deb -R "$deb_file" build-pkg/unpacked
      rm -f build-pkg/unpacked/DEBIAN/postinst build-pkg/unpacked/DEBIAN/postrm
      dpkg-deb --root-owner-group -Zxz -b build-pkg/unpacked "$deb_file" >/dev/null
      rm -rf build-pkg/unpacked
    fi
    mv "$deb_file" "$dist/"
    deb_file=$dist/$(basename "$deb_file")
    deb_files+=("$deb_file")
    say "$(basename "$deb_file"): $(stat -c %s "$deb_file") bytes"
  done
  say "lintian:"
  lintian "${deb_files[@]}" 2>&1 | grep -v '^running with root privileges' | sed 's/^/  /' || true
  if lintian "${deb_files[@]}" 2>/dev/null | grep -q '^E:'; then
    echo "package: lintian reports errors" >&2
    exit 1
  fi
  deb_args=()
  for f in "${deb_files[@]}"; do deb_args+=(--deb "$f"); done
  scripts/check_version.sh "${deb_args[@]}" >/dev/null || scripts/check_version.sh "${deb_args[@]}"
fi

# ---- Windows archive ----------------------------------------------------------------------------
# MSVC import library from the import definitions the DLL build derives from api/zr.def. On
# x86 the callers' symbols are stdcall-decorated (_ZROpen@12) and the DLL's names are not:
# -k makes llvm-dlltool import the undecorated name. The one export whose name keeps its
# decoration (_ZRTestModeSet@8) must be imported by its exact name, which llvm-dlltool cannot
# say in a def file: its member's name type is set afterwards. On x64 nothing is decorated
# and ZRTestModeSet is a weak alias of the import _ZRTestModeSet@8.
msvc_lib() {  # build-dir arch out
  local dir=$1 arch=$2 out=$3 def=$tmp/zr-$2.def
  if ! command -v llvm-dlltool >/dev/null; then
    cp "$dir/libzr.dll.a" "$out"
    return
  fi
  if [ "$arch" = x86 ]; then
    { echo "LIBRARY zr.dll"; echo "EXPORTS"
      sed -n -e 's/^    \([^ ]*\) == .*/    \1/p' -e t -e 's/^    \([^ =]*\)$/    \1/p' "$dir/zr-import.def"; } >"$def"
    llvm-dlltool -m i386 -k -d "$def" -l "$out"
    python3 - "$out" <<'EOF'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, "rb").read())
# Short import member: 0000 FFFF version machine time size hint type-word, then the names.
needle = b"_ZRTestModeSet@8\x00zr.dll\x00"
at = data.find(needle)
assert at >= 20 and data[at - 20:at - 16] == b"\x00\x00\xff\xff", "no import member for _ZRTestModeSet@8"
word = struct.unpack_from("<H", data, at - 2)[0]
word = (word & ~(0x7 << 2)) | (1 << 2)  # name type 1: the symbol name exactly
struct.pack_into("<H", data, at - 2, word)
open(path, "wb").write(data)
EOF
  else
    { echo "LIBRARY zr.dll"; echo "EXPORTS"
      sed -n 's/^    \([^ =]*\)$/    \1/p' "$dir/zr-import.def"
      sed -n 's/^    \([^ ]*\) == \(.*\)/    \2\n    \1 == \2/p' "$dir/zr-import.def"; } >"$def"
    llvm-dlltool -m i386:x86-64 -d "$def" -l "$out"
  fi
}

if [ "$zip" = 1 ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  name=zr-$version-windows
  stage=$tmp/$name
  mkdir -p "$stage/include" "$stage/x86" "$stage/x64"
  for pair in "i686 x86" "x86_64 x64"; do
    set -- $pair
    dir=build-pkg-win-$1
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$1.cmake" -DCMAKE_BUILD_TYPE=Release \
          -DZR_BUILD_TESTS=OFF >/dev/null
    cmake --build "$dir" -j"$jobs" --target zr zrtool >/dev/null
    sh tests/windows/check_exports.sh "$dir/zr.dll" api/zr.def "$1-w64-mingw32-objdump" >/dev/null
    "$1-w64-mingw32-strip" -o "$stage/$2/zr.dll" "$dir/zr.dll"
    "$1-w64-mingw32-strip" -o "$stage/$2/zrtool.exe" "$dir/zrtool.exe"
    cp "$dir/libzr.dll.a" "$stage/$2/"
    msvc_lib "$dir" "$2" "$stage/$2/zr.lib"
  done
  cp api/zr.h "$stage/include/"
  cp api/zr.def README.md LICENSE docs/windows.md "$stage/"
  rm -f "$dist/$name.zip"
  (cd "$tmp" && cmake -E tar cf "$dist/$name.zip" --format=zip "$name")
  say "$name.zip: $(stat -c %s "$dist/$name.zip") bytes"
  scripts/check_version.sh --zip "$dist/$name.zip" >/dev/null || scripts/check_version.sh --zip "$dist/$name.zip"
fi
say "done: $(ls "$dist" | tr '\n' ' ')"
