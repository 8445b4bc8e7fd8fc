#!/bin/sh
# Runs the demo with the Linux build and with the Windows build under Wine, and checks
# that both print the same dialogue and write the same result, but for the line
# breaks: CR LF in every text file the Windows build writes, LF in the Linux one's; then
# the same for the demo's run from the command line, in a folder of its own.
# Usage: sh demo/compare-windows.sh path/to/ormelix path/to/ormelix.exe
set -eu
linux=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
windows=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
run_wine="$here/../cmake/wine-run.sh"
prefix=$(dirname "$windows")/wineprefix
work=$(dirname "$windows")/demo-compare
result=images/demo/landslide_val_abs.asc

rm -rf "$work"
mkdir -p "$work/linux/images"
cp -R "$here/images/demo" "$work/linux/images/demo"
(cd "$work/linux" && "$linux" < "$here/answers.txt" > "$work/linux-console.txt")

# Under Wine the root folder is the prefix's own c:\images\.
"$run_wine" "$prefix" cmd /c exit >/dev/null 2>&1 || true
rm -rf "$prefix/drive_c/images/demo"
cp -R "$here/images/demo" "$prefix/drive_c/images/demo"
"$run_wine" "$prefix" "$windows" < "$here/answers.txt" > "$work/windows-console.txt"
cp "$prefix/drive_c/$result" "$work/windows-result.asc"
rm -rf "$prefix/drive_c/images/demo"

count() { tr -cd "$1" < "$2" | wc -c; }
status=0
if [ "$(count '\r' "$work/windows-result.asc")" -ne "$(count '\n' "$work/windows-result.asc")" ] ||
   [ "$(count '\n' "$work/windows-result.asc")" -eq 0 ]; then
    echo "The Windows result does not end every line with CR LF." >&2
    status=1
fi
if [ "$(count '\r' "$work/linux/$result")" -ne 0 ]; then
    echo "The Linux result holds CR characters." >&2
    status=1
fi
if ! tr -d '\r' < "$work/windows-result.asc" | cmp -s - "$work/linux/$result"; then
    echo "The Windows result differs from the Linux one beyond its line breaks:" >&2
    tr -d '\r' < "$work/windows-result.asc" | diff "$work/linux/$result" - | head -20 >&2
    status=1
fi
crlf_to_lf() { perl -pe 's/\r\n\z/\n/' "$1"; }
if ! crlf_to_lf "$work/windows-console.txt" | cmp -s - "$work/linux-console.txt"; then
    echo "The Windows dialogue differs from the Linux one beyond its line breaks." >&2
    crlf_to_lf "$work/windows-console.txt" | diff "$work/linux-console.txt" - | head -20 >&2
    status=1
fi
# The command line: paths as given, relative to the current folder, which Wine maps.
line_args="demo/slope_2019.asc demo/slope_2024_m2.raw demo/landslide.asc --second-unit cm --kind absolute --limit 0.25"
for system in linux windows; do
    mkdir -p "$work/line-$system"
    cp -R "$here/images/demo" "$work/line-$system/demo"
done
# shellcheck disable=SC2086
(cd "$work/line-linux" && "$linux" $line_args > "$work/line-linux-console.txt")
# shellcheck disable=SC2086
(cd "$work/line-windows" && "$run_wine" "$prefix" "$windows" $line_args > "$work/line-windows-console.txt")
for file in landslide.asc landslide_budget.csv; do
    if ! tr -d '\r' < "$work/line-windows/demo/$file" | cmp -s - "$work/line-linux/demo/$file"; then
        echo "The Windows command line's $file differs from the Linux one's beyond its line breaks." >&2
        status=1
    fi
done
if ! crlf_to_lf "$work/line-windows-console.txt" | cmp -s - "$work/line-linux-console.txt"; then
    echo "The Windows command line prints another budget than the Linux one." >&2
    crlf_to_lf "$work/line-windows-console.txt" | diff "$work/line-linux-console.txt" - | head -20 >&2
    status=1
fi

if [ "$status" -eq 0 ]; then
    echo "Demo: the Windows build (under Wine) writes the Linux result with CR LF line breaks"
    echo "($(wc -l < "$work/linux/$result") lines, $(wc -c < "$work/linux/$result") bytes on Linux," \
         "$(wc -c < "$work/windows-result.asc") on Windows); the dialogues are the same, and so are the"
    echo "command line's result, budget file and console."
fi
exit "$status"
