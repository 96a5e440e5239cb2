#!/usr/bin/env bash
# Regenerates docs/report.png, the picture of the calibration report of examples/mag.csv.
#
# Builds the fluxtrim command, writes the report of the example with the command the README shows
# beside the picture (the README's example place, 48.5578 N, 3.2914 E, 89 m, on 2026-12-08 with
# the default model WMM2025) twice and checks that both files are the same bytes, then renders the
# top of the page (verdict, calibration and the six projections) with headless Chromium (Debian's
# chromium package).
#
#   tools/render_report.sh [BUILD_DIR]      (default: build)
#
# Leaves the report in BUILD_DIR/report/mag-report.html.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
chromium=${FLUXTRIM_CHROMIUM:-$(command -v chromium || command -v chromium-browser || true)}
if [[ -z "$chromium" ]]; then
  echo "render_report.sh: Chromium not found: apt-get install chromium, or set FLUXTRIM_CHROMIUM" >&2
  exit 1
fi

cmake -S . -B "$build" >/dev/null
cmake --build "$build" -j2 --target fluxtrim_cli >/dev/null

out="$build/report"
mkdir -p "$out"
page="$PWD/$out/mag-report.html"
for copy in "$page" "$out/mag-report-again.html"; do
  "$build/fluxtrim" calibrate examples/mag.csv --lat 48.5578 --lon 3.2914 --alt 89 \
    --date 2026-12-08 --report "$copy" >/dev/null
done
if ! cmp -s "$page" "$out/mag-report-again.html"; then
  echo "render_report.sh: two runs gave different reports" >&2
  exit 1
fi
echo "report: $out/mag-report.html, $(wc -c <"$page") bytes, the same in two runs"

profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
chrome() {
  rm -rf "$profile/user"
  "$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
    --force-device-scale-factor=1 --force-color-profile=srgb --user-data-dir="$profile/user" \
    "$@" 2>/dev/null
}

# The height of the picture: down to the end of the projections.
width=1200
{
  cat "$page"
  echo "<script>document.documentElement.setAttribute('data-cut', Math.ceil(" \
    "document.getElementById('projections').getBoundingClientRect().bottom + 16))</script>"
} >"$profile/probe.html"
height=$(chrome --dump-dom --window-size="$width,1000" "file://$profile/probe.html" |
  sed -n 's/.*data-cut="\([0-9]*\)".*/\1/p' | head -n 1)
if [[ -z "$height" ]]; then
  echo "render_report.sh: could not measure the page in $chromium" >&2
  exit 1
fi
mkdir -p docs
chrome --screenshot="$PWD/docs/report.png" --window-size="$width,$height" "file://$page" >/dev/null
echo "picture: docs/report.png, ${width}x$height, $(wc -c <docs/report.png) bytes"
