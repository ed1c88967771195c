#!/usr/bin/env bash
# Installs the build tools, GoogleTest, help2man (the man pages), mosquitto (zrgate's library,
# the broker of its tests, mosquitto_sub to watch it), OpenSSL (zrgate --check reads
# certificates; its tests make a CA), SQLite (zrgate's spool), libmicrohttpd (zrgate's console)
# and Chromium with node and npm (the console's browser test) when this Debian machine lacks them.
# With --build: only what configuring and building the library, zrtool and zrsim needs (the demo).
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v make >/dev/null || need+=(make)
dpkg -s libgtest-dev >/dev/null 2>&1 || need+=(libgtest-dev)
dpkg -s libgmock-dev >/dev/null 2>&1 || need+=(libgmock-dev)
if [ "${1:-}" != --build ]; then
command -v help2man >/dev/null || need+=(help2man)
# zrgate and its tests: the MQTT client library and a real broker.
dpkg -s libmosquitto-dev >/dev/null 2>&1 || need+=(libmosquitto-dev)
dpkg -s mosquitto >/dev/null 2>&1 || need+=(mosquitto)
dpkg -s mosquitto-clients >/dev/null 2>&1 || need+=(mosquitto-clients)
# zrgate's console: GNU libmicrohttpd; its browser test: Chromium, and node with npm for
# puppeteer-core (which the test installs into the build directory).
dpkg -s libmicrohttpd-dev >/dev/null 2>&1 || need+=(libmicrohttpd-dev)
command -v chromium >/dev/null || [ -x /usr/bin/chromium ] || need+=(chromium)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
# zrgate's spool.
dpkg -s libsqlite3-dev >/dev/null 2>&1 || need+=(libsqlite3-dev)
dpkg -s libssl-dev >/dev/null 2>&1 || need+=(libssl-dev)
command -v openssl >/dev/null || need+=(openssl)
fi
[ ${#need[@]} -eq 0 ] && exit 0
echo "installing: ${need[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${need[@]}"
