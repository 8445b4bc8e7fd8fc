#!/bin/sh
# Renders a report of ORMELIX (NAME_report.html) as a browser shows it, into a PNG
# screenshot, with Debian's headless chromium. Not part of `make test`; skips when
# chromium is not installed.
# Usage: sh tests/render-report.sh REPORT.html SCREENSHOT.png [WIDTH [HEIGHT]]
set -eu
if [ $# -lt 2 ]; then
    echo "usage: sh tests/render-report.sh REPORT.html SCREENSHOT.png [WIDTH [HEIGHT]]" >&2
    exit 2
fi
browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
    echo "render-report: chromium is not installed (apt-get install chromium): nothing rendered"
    exit 0
fi
report=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
shot=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
width=${3:-1060}
height=${4:-1900}
# A profile of its own for each run, and nothing fetched or synchronised: the report
# must need nothing but itself.
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
sandbox=""
[ "$(id -u)" = 0 ] && sandbox="--no-sandbox"
"$browser" --headless $sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$profile" --hide-scrollbars --window-size="$width,$height" \
    --screenshot="$shot" "file://$report" >/dev/null 2>&1
[ -s "$shot" ] || { echo "render-report: chromium made no screenshot of $report" >&2; exit 1; }
echo "render-report: $report -> $shot"
