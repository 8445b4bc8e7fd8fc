#!/bin/sh
# Runs ORMELIX on the two epochs of the demo hillside, in a scratch root folder.
# Usage: sh demo/run-demo.sh path/to/ormelix
set -eu
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$program")/demo-root
rm -rf "$root"
mkdir -p "$root/images"
cp -R "$here/images/demo" "$root/images/demo"

echo "Demo: difference of a hillside surveyed in 2019 (ASCII grid, metres) and in 2024"
echo "(16-bit raster pair, centimetres); absolute values, changes under 0.25 m removed."
echo "The run ends with the budget of the change: how much ground the landslide moved,"
echo "and writes beside the result a report of the change to open in a browser."
echo "Answers given, one per line: $(tr '\n' ' ' < "$here/answers.txt")"
echo "----------------------------------------------------------------------------"
status=0
(cd "$root" && "$program" < "$here/answers.txt") || status=$?
echo
echo "----------------------------------------------------------------------------"
echo "Exit status: $status"
result="$root/images/demo/landslide_val_abs.asc"
if [ -f "$result" ]; then
    echo "Result (c:\\images\\demo\\landslide_val_abs.asc in the program's terms):"
    echo "  $result"
    head -n 6 "$result" | sed 's/^/  /'
fi
budget="$root/images/demo/landslide_val_abs_budget.csv"
if [ -f "$budget" ]; then
    echo "Its budget, for scripts (c:\\images\\demo\\landslide_val_abs_budget.csv):"
    sed 's/^/  /' "$budget"
fi
report="$root/images/demo/landslide_val_abs_report.html"
if [ -f "$report" ]; then
    echo "Report of the change, the map, the distribution and the budget (open it in a browser):"
    echo "  $report"
fi

echo
echo "The same run from the command line, asking nothing:"
echo "  ormelix images/demo/slope_2019.asc images/demo/slope_2024_m2.raw images/demo/landslide.asc \\"
echo "      --second-unit cm --kind absolute --limit 0.25"
echo "----------------------------------------------------------------------------"
line_status=0
(cd "$root" && "$program" images/demo/slope_2019.asc images/demo/slope_2024_m2.raw images/demo/landslide.asc \
    --second-unit cm --kind absolute --limit 0.25) || line_status=$?
echo "----------------------------------------------------------------------------"
echo "Exit status: $line_status"
if cmp -s "$root/images/demo/landslide.asc" "$result" &&
   cmp -s "$root/images/demo/landslide_budget.csv" "$budget"; then
    echo "images/demo/landslide.asc and its budget are the dialogue's result and budget, byte for byte."
else
    echo "The command line's result differs from the dialogue's." >&2
    line_status=1
fi
[ "$status" -ne 0 ] || status=$line_status
exit "$status"
