#!/usr/bin/env bash
# zrgate's console in a real Chromium, driven by puppeteer-core (installed from npm into
# BUILD_DIR/browser-node the first time). Usage: console_test.sh ZRGATE ZRSIM BUILD_DIR
# Without Chromium, node or npm the test is skipped (exit 77), or fails when
# ZR_BROWSER_TESTS_NEED=1 (set by .ci/run, whose scripts/deps.sh installs them).
set -euo pipefail
zrgate=$1 zrsim=$2 build=$3
here=$(cd "$(dirname "$0")" && pwd)

missing() {
  echo "console browser test: $1" >&2
  if [ "${ZR_BROWSER_TESTS_NEED:-}" = 1 ]; then exit 1; fi
  echo "console browser test skipped (scripts/deps.sh installs what it needs)" >&2
  exit 77
}

chromium=${ZR_CHROMIUM:-}
if [ -z "$chromium" ]; then
  for c in /usr/bin/chromium /usr/bin/chromium-browser /snap/bin/chromium; do
    if [ -x "$c" ]; then chromium=$c; break; fi
  done
fi
[ -n "$chromium" ] || missing "no Chromium found (Debian: apt-get install chromium; or set ZR_CHROMIUM)"
[ -x "$chromium" ] || missing "$chromium (ZR_CHROMIUM) is not an executable"
command -v node >/dev/null || missing "node not found (Debian: apt-get install nodejs)"
command -v npm >/dev/null || missing "npm not found (Debian: apt-get install npm)"
mosquitto=""
for m in /usr/sbin/mosquitto /usr/local/sbin/mosquitto /usr/bin/mosquitto; do
  if [ -x "$m" ]; then mosquitto=$m; break; fi
done
[ -n "$mosquitto" ] || missing "mosquitto not found (Debian: apt-get install mosquitto)"

# puppeteer-core 24 runs on node 18 and later (Debian 12 has 18); the version is pinned to
# its major so that a new release cannot change the test under us.
modules=$build/browser-node
if [ ! -f "$modules/node_modules/puppeteer-core/package.json" ]; then
  mkdir -p "$modules"
  # Two tests (or builds) installing at once must not mix their files.
  exec 9>"$modules/.lock"
  flock 9
  if [ ! -f "$modules/node_modules/puppeteer-core/package.json" ]; then
    echo "installing puppeteer-core into $modules" >&2
    npm install --prefix "$modules" --no-audit --no-fund --loglevel=error puppeteer-core@24 >&2 ||
      missing "npm could not install puppeteer-core (is the npm registry reachable?)"
  fi
  flock -u 9
fi

exec node "$here/console_test.cjs" "$zrgate" "$zrsim" "$mosquitto" "$chromium" "$modules/node_modules" "$build/console.png"
