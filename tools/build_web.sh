#!/usr/bin/env bash
# Builds the browser page, BUILD_DIR/fluxtrim.html: the library and the command's output formats
# compiled to WebAssembly with Debian's emscripten, and the page's HTML, CSS and JavaScript, in one
# file that opens from disk and makes no request.
#
#   tools/build_web.sh [BUILD_DIR]      (default: build-web)
#
# Needs Debian's emscripten (which brings Node.js) and nlohmann-json3-dev:
#   apt-get install emscripten nlohmann-json3-dev
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build-web}
if ! command -v emcmake >/dev/null 2>&1; then
  echo "build_web.sh: emscripten not found: apt-get install emscripten" >&2
  exit 1
fi
# Debian's emscripten runs its JavaScript optimizer on Debian's Node.js modules (acorn).
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}

emcmake cmake -S web -B "$build" >/dev/null
cmake --build "$build" -j2 --target fluxtrim_page
