#!/usr/bin/env bash
# Tests of the Python and .NET bindings against a build of the library and the simulator
# (build/ from scripts/test.sh, or $ZR_BUILD): pytest, a wheel installed into a fresh venv
# with the library bundled, the Mono tests, and both examples against zrsim.
# Installs what a fresh Debian lacks (Debian packages only: no PyPI, no NuGet).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$(realpath "${ZR_BUILD:-build}")
if [ ! -x "$build/zrsim" ] || [ ! -e "$build/libzr.so" ]; then
  echo "run_tests.sh: no $build/zrsim or $build/libzr.so (build first: scripts/test.sh)" >&2
  exit 1
fi

need=()
for p in python3-pytest python3-setuptools python3-wheel python3-venv python3-pip mono-mcs mono-runtime; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "installing: ${need[*]}"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

py=/usr/bin/python3  # Debian's, whatever python3 comes first on PATH
tmp=$(mktemp -d)
sim=""
cleanup() { [ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$tmp"; }
trap cleanup EXIT

echo "== Python binding: pytest"
set +e
ZR_BUILD=$build $py -m pytest -q -p no:cacheprovider bindings/python/tests
rc=$?
set -e
if [ $rc -eq 5 ]; then echo "run_tests.sh: pytest collected no test" >&2; exit 1; fi
[ $rc -eq 0 ] || exit $rc

echo "== Python binding: a wheel with the library bundled, installed into a fresh venv"
cp -r bindings/python "$tmp/src"
rm -rf "$tmp/src/build" "$tmp/src"/*.egg-info
cp -L "$build/libzr.so" "$tmp/src/zr/libzr.so"
$py -m pip wheel -q --no-build-isolation --no-deps -w "$tmp/dist" "$tmp/src"
$py -m venv "$tmp/venv"
"$tmp/venv/bin/python" -m pip install -q --no-index --no-deps "$tmp"/dist/zr-*.whl
info=$(cd "$tmp" && env -u ZR_LIBRARY -u LD_LIBRARY_PATH "$tmp/venv/bin/python" -m zr info)
echo "$info"
grep -q "site-packages/zr/libzr.so" <<<"$info" || { echo "run_tests.sh: the bundled library was not loaded" >&2; exit 1; }

echo "== .NET binding: Mono tests"
mkdir -p "$tmp/dotnet"
mcs -nologo -target:library -out:"$tmp/dotnet/Zr.dll" bindings/dotnet/Zr.cs
mcs -nologo -out:"$tmp/dotnet/ZrTests.exe" -r:"$tmp/dotnet/Zr.dll" bindings/dotnet/tests/ZrTests.cs
mcs -nologo -out:"$tmp/dotnet/Inventory.exe" -r:"$tmp/dotnet/Zr.dll" bindings/dotnet/examples/Inventory.cs
LD_LIBRARY_PATH=$build mono "$tmp/dotnet/ZrTests.exe" "$build" "$repo"

echo "== examples against zrsim"
address="127.90.$(( $$ % 250 + 1 )).1"
"$build/zrsim" --tcp "$address" >"$tmp/sim.out" &
sim=$!
for _ in $(seq 50); do grep -q serial "$tmp/sim.out" && break; sleep 0.1; done
pty=$(awk '/serial/ {print $3}' "$tmp/sim.out")
printf '[tcp]\nZR_PORT_TYPE=TCP\nZR_HOST_NAME=%s\nZR_COM_NUMBER=COM1\n\n[serial]\nZR_PORT_TYPE=COM\nZR_COM_NUMBER=%s\nZR_HOST_NAME=127.0.0.1\n' \
  "$address" "$pty" >"$tmp/reader.ini"
for section in tcp serial; do
  echo "-- Python, $section"
  ZR_LIBRARY=$build/libzr.so PYTHONPATH=bindings/python $py bindings/python/examples/inventory.py "$tmp/reader.ini" $section
  echo "-- .NET, $section"
  LD_LIBRARY_PATH=$build mono "$tmp/dotnet/Inventory.exe" "$tmp/reader.ini" $section
done
echo "== bindings: all green"
