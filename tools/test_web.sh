#!/usr/bin/env bash
# Builds the browser page and the native command, installs the tests' Node.js packages from the
# lock file, and runs the browser tests (web/test/) in Debian's Chromium: the page against the
# command on the examples and on 100,000 generated samples, its downloads, its live calibration
# (a replay, a simulated serial port), and its requests (none).
#
#   tools/test_web.sh [--screenshot]
#
# --screenshot also writes docs/page.png, the picture of the page in the README. Needs what
# tools/build_web.sh needs, the command's build dependencies, npm and chromium. No browser is ever
# downloaded: the tests drive /usr/bin/chromium.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/build_web.sh
cmake -S . -B build >/dev/null
cmake --build build -j2 --target fluxtrim_cli

# The packages of the lock file, installed again only when it changed.
if [[ ! web/node_modules/.package-lock.json -nt web/package-lock.json ]]; then
  (cd web && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --ignore-scripts --no-audit --no-fund)
fi

if [[ ${1:-} == --screenshot ]]; then
  export FLUXTRIM_SCREENSHOT=$PWD/docs/page.png
fi
cd web
npm test
