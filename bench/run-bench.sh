#!/bin/sh
# Whole sessions of ORMELIX on synthetic DEM pairs, timed from outside as a user waits
# for them, against the floors of the same work and, where it is installed, against
# GDAL's command-line tools doing the same ASCII job.
#
# Usage: sh bench/run-bench.sh path/to/ormelix
# The tools make_bench_grids, session_timer and floor_probe are taken from the same
# build folder (cmake -DORMELIX_BENCH=ON). Settings, from the environment:
#   BENCH_SIZES    sides of the square grids, default "2000 5000"
#   BENCH_REPEATS  runs of each session, the best is shown, default 3
#   BENCH_DIR      scratch folder, default bench-root beside the program
#   BENCH_KEEP     1 keeps the generated grids for the next run (they are reused)
# Files are read from the page cache: they were just written, as a user's usually are.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: sh bench/run-bench.sh path/to/ormelix" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
bin=$(dirname "$program")
for tool in make_bench_grids session_timer floor_probe; do
    if [ ! -x "$bin/$tool" ]; then
        echo "run-bench: $bin/$tool is missing: configure with -DORMELIX_BENCH=ON" >&2
        exit 2
    fi
done
sizes=${BENCH_SIZES:-"2000 5000"}
repeats=${BENCH_REPEATS:-3}
scratch=${BENCH_DIR:-$bin/bench-root}
keep=${BENCH_KEEP:-0}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)

have_gdal=0
if command -v gdal_calc.py >/dev/null 2>&1 && command -v gdal_translate >/dev/null 2>&1; then
    have_gdal=1
fi

bytes_of() {
    total=0
    for f in "$@"; do
        total=$((total + $(wc -c < "$f")))
    done
    echo "$total"
}

# field NAME LINE: the value of NAME=... in a line of key=value words.
field() {
    echo "$2" | tr ' ' '\n' | sed -n "s/^$1=//p"
}

# best_of COMMAND...: runs a timing command BENCH_REPEATS times; prints its line with
# the best wall time and the largest peak memory. Outputs of the session are removed
# before each run, so that no run pays for replacing the one before.
best_of() {
    best=""
    peak=0
    k=0
    while [ "$k" -lt "$repeats" ]; do
        rm -f "$folder"/diff_* "$folder"/peer.*
        line=$("$@") || { echo "run-bench: failed: $line" >&2; exit 1; }
        wall=$(field wall_s "$line")
        rss=$(field maxrss_kib "$line")
        [ -n "$rss" ] && [ "$rss" -gt "$peak" ] && peak=$rss
        if [ -z "$best" ] || [ "$(echo "$wall $(field wall_s "$best")" | awk '{print ($1 < $2)}')" = 1 ]; then
            best=$line
        fi
        k=$((k + 1))
    done
    echo "$best" | sed "s/maxrss_kib=[0-9]*/maxrss_kib=$peak/"
}

# One-core floors: parse + format + the grids' first touch.
best_floor() {
    best=""
    k=0
    while [ "$k" -lt "$repeats" ]; do
        line=$("$@")
        if [ -z "$best" ] || [ "$(echo "$(field "$FLOOR_KEY" "$line") $(field "$FLOOR_KEY" "$best")" |
            awk '{print ($1 < $2)}')" = 1 ]; then
            best=$line
        fi
        k=$((k + 1))
    done
    echo "$best"
}

row() {  # name wall_s input_bytes cells peak_kib
    echo "$2 $3 $4 $5" | awk -v name="$1" '{
        printf "  %-36s %7.3f s %6.0f MB/s in %7.2f ns/cell %6.0f MiB peak\n",
               name, $1, $2 / $1 / 1e6, $1 * 1e9 / $3, $4 / 1024 }'
}

echo "ORMELIX benchmark: $(nproc 2>/dev/null || echo '?') cores, best of $repeats runs, files in $scratch"
summary=""
for side in $sizes; do
    root=$scratch/$side
    folder=$root/images/bench
    cells=$((side * side))
    stamp=$folder/.complete
    if [ ! -f "$stamp" ]; then
        rm -rf "$root"
        "$bin/make_bench_grids" "$root" "$side"
        touch "$stamp"
    fi
    asc_in=$(bytes_of "$folder/north.asc" "$folder/south.asc")
    m2_in=$(bytes_of "$folder/north_m2.raw" "$folder/south_m2.raw")
    m4_in=$(bytes_of "$folder/north_m4.raw" "$folder/south_m4.raw")
    mixed_in=$(bytes_of "$folder/north.asc" "$folder/south_m2.raw")
    mixed2_in=$(bytes_of "$folder/north_m4.raw" "$folder/south.asc")

    echo
    echo "$side x $side cells ($cells), inputs: ASCII pair $((asc_in / 1000000)) MB, 16-bit pair $((m2_in / 1000000)) MB, 32-bit pair $((m4_in / 1000000)) MB"

    t=$(best_of "$bin/session_timer" "$root" 'bench\nnorth\n0\nsouth\n0\ndiff\n0\n0\n1\n' 1 "$program")
    aa_wall=$(field wall_s "$t")
    aa_peak=$(field maxrss_kib "$t")
    out_bytes=$(bytes_of "$folder/diff_val_abs.asc")
    row "ASCII -> ASCII" "$aa_wall" "$asc_in" "$cells" "$aa_peak"

    t=$(best_of "$bin/session_timer" "$root" 'bench\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n1\n0\n1\n0\n5\n2\n' 1 "$program")
    r16_wall=$(field wall_s "$t")
    r16_out=$(bytes_of "$folder/diff_val_abs_m2.raw")
    row "16-bit cm -> 16-bit cm" "$r16_wall" "$m2_in" "$cells" "$(field maxrss_kib "$t")"

    t=$(best_of "$bin/session_timer" "$root" 'bench\nnorth\n1\n1\n3\nsouth\n1\n1\n3\ndiff\n1\n0\n1\n1\n5\n3\n' 1 "$program")
    row "32-bit mm -> 32-bit mm" "$(field wall_s "$t")" "$m4_in" "$cells" "$(field maxrss_kib "$t")"

    t=$(best_of "$bin/session_timer" "$root" 'bench\nnorth\n0\nsouth\n1\n0\n2\ndiff\n0\n0\n1\n' 1 "$program")
    row "ASCII + 16-bit cm -> ASCII" "$(field wall_s "$t")" "$mixed_in" "$cells" "$(field maxrss_kib "$t")"

    t=$(best_of "$bin/session_timer" "$root" 'bench\nnorth\n1\n1\n3\nsouth\n0\ndiff\n1\n0\n1\n0\n5\n2\n' 1 "$program")
    row "32-bit mm + ASCII -> 16-bit cm" "$(field wall_s "$t")" "$mixed2_in" "$cells" "$(field maxrss_kib "$t")"

    FLOOR_KEY=floor_s
    f=$(best_floor "$bin/floor_probe" ascii "$folder/north.asc" "$folder/south.asc")
    floor=$(field floor_s "$f")
    FLOOR_KEY=io_s
    io=$(best_floor "$bin/floor_probe" raw-io "$folder/north_m2.raw" "$folder/south_m2.raw" "$r16_out" \
        "$folder/io_probe.raw")
    io_s=$(field io_s "$io")
    echo "  one core, ASCII pair: parse $(field parse_mb_s "$f") MB/s ($(field parse_ns "$f") ns/value)," \
        "format $(field format_mb_s "$f") MB/s of output ($(field format_ns "$f") ns/value)"
    echo "  floor of ASCII -> ASCII on one core: $floor s (first touch of the three grids" \
        "$(field faults_s "$f") s + parse $(field parse_s "$f") s + format $(field format_s "$f") s)"
    echo "  floor of 16-bit -> 16-bit: $io_s s to read the two sample files and write $r16_out bytes"

    peer=""
    if [ "$have_gdal" = 1 ]; then
        # The same job with GDAL in double precision: the difference as a GeoTIFF, then
        # that as an ASCII grid.
        t=$(best_of "$bin/session_timer" "$folder" '' 1 sh -c \
            'AAIGRID_DATATYPE=Float64 gdal_calc.py --quiet --overwrite -A north.asc -B south.asc --outfile=peer.tif --calc="absolute(A-B)" --type=Float64 && gdal_translate -q -of AAIGrid peer.tif peer.asc')
        peer=$(field wall_s "$t")
        row "GDAL: gdal_calc.py + gdal_translate" "$peer" "$asc_in" "$cells" "$(field maxrss_kib "$t")"
        rm -f "$folder"/peer.*
    else
        echo "  GDAL: gdal_calc.py or gdal_translate not installed; the peer pipeline is not timed"
    fi

    touch_s=$(field faults_s "$f")
    ratios=$(echo "$aa_wall $floor $r16_wall $io_s $aa_peak $cells ${peer:-0} $touch_s" | awk '{
        printf "ASCII->ASCII %.2f x the one-core floor (target <= 1.5); ", $1 / $2
        printf "16-bit->16-bit %.2f x reading and writing its bytes (target <= 2), ", $3 / $4
        printf "%.2f x that plus the first touch of the three grids of doubles; ", $3 / ($4 + $8)
        limit = ($6 * 24 + 64 * 1048576) / 1024
        printf "ASCII->ASCII peak %.0f MiB, limit 3 x 8 bytes/cell + 64 MiB = %.0f MiB", $5 / 1024, limit / 1024
        if ($7 > 0) printf "; GDAL/ORMELIX %.1f (target >= 10)", $7 / $1
    }')
    if [ "$have_gdal" = 0 ]; then
        ratios="$ratios; GDAL not installed (gdal_calc.py, gdal_translate): no peer timing"
    fi
    summary="$summary
$side x $side: $ratios"
    rm -f "$folder"/diff_* "$folder"/io_probe.raw
    if [ "$keep" != 1 ]; then
        rm -rf "$root"
    fi
done
echo
echo "Against the targets:$summary" | sed 's/; /\n    /g'
