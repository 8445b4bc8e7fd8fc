#!/bin/sh
# Whole sessions of ORMELIX on synthetic DEM pairs, timed from outside as a user waits
# for them, against the floors of the same work and, where it is installed, against
# GDAL's command-line tools doing the same ASCII and GeoTIFF jobs; there too, the first
# epoch as a VRT mosaic of GeoTIFF tiles and as an Erdas Imagine .img, read through GDAL.
#
# Usage: sh bench/run-bench.sh path/to/ormelix [path/to/ormelix-without-large-pages]
# The second program, built with -DORMELIX_MEMORY_HINT=OFF, is timed on every session
# beside the first; so is BENCH_NOREPORT, a program built with -DORMELIX_REPORT=OFF. The
# tools make_bench_grids, make_bench_geotiffs, make_large_pair, session_timer and
# floor_probe are taken from the first program's build folder (cmake -DORMELIX_BENCH=ON).
# Settings, from the environment:
#   BENCH_SIZES    sides of the square grids, default "2000 5000"
#   BENCH_REPEATS  runs of each session, the median is shown, default 5
#   BENCH_LARGE    side of an extra 16-bit -> 16-bit session, 20000 for example (1.6 GB
#                  of samples, 11 GB of memory); none by default. BENCH_LARGE_REPEATS
#                  runs of it (default 3), one without large pages
#   BENCH_HUGE     side of a frame beyond the machine's memory, default 60000: a Float32
#                  GeoTIFF pair (make_large_pair) run once to a GeoTIFF with its budget
#                  and report, at the default --memory; 0 leaves it out. At 60000 it
#                  needs about 1.1 GB of disk (the pair, 523 MB each, kept for the next
#                  runs in BENCH_DIR/huge-60000; the output is a few MB) and, on 2 cores,
#                  about 3 minutes to make the pair the first time (60 s of processor)
#                  and 1 to 2 minutes for the run
#   BENCH_DIR      scratch folder, default bench-root beside the program
#   BENCH_KEEP     1 keeps the generated grids for the next run (they are reused), and
#                  the large frame's output
# Files are read from the page cache: they were just written, as a user's usually are.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: sh bench/run-bench.sh path/to/ormelix [path/to/ormelix-without-large-pages]" >&2
    exit 2
fi
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
# A program built without the report of the change (-DORMELIX_REPORT=OFF), timed on the
# sessions beside the first to weigh the report.
noreport=${BENCH_NOREPORT:-}
if [ -n "$noreport" ]; then
    noreport=$(cd "$(dirname "$noreport")" && pwd)/$(basename "$noreport")
fi
baseline=""
if [ $# -eq 2 ]; then
    baseline=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
fi
bin=$(dirname "$program")
for tool in make_bench_grids make_bench_geotiffs make_large_pair session_timer floor_probe; do
    if [ ! -x "$bin/$tool" ]; then
        echo "run-bench: $bin/$tool is missing: configure with -DORMELIX_BENCH=ON" >&2
        exit 2
    fi
done
sizes=${BENCH_SIZES:-"2000 5000"}
repeats=${BENCH_REPEATS:-5}
large=${BENCH_LARGE:-}
huge=${BENCH_HUGE:-60000}
scratch=${BENCH_DIR:-$bin/bench-root}
keep=${BENCH_KEEP:-0}
mkdir -p "$scratch"
scratch=$(cd "$scratch" && pwd)

have_gdal=0
if command -v gdal_calc.py >/dev/null 2>&1 && command -v gdal_translate >/dev/null 2>&1; then
    have_gdal=1
fi
# The first epoch as GDAL's tools write it (a VRT mosaic, an .img), for a program that
# reads those forms through GDAL.
have_gdal_forms=0
if command -v gdal_translate >/dev/null 2>&1 && command -v gdalbuildvrt >/dev/null 2>&1 &&
    "$program" --help 2>/dev/null | grep -q -- --gdal; then
    have_gdal_forms=1
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

# median_of COMMAND...: runs a timing command BENCH_REPEATS times; prints its line with
# the median wall time and the largest peak memory. Outputs of the session are removed
# before each run, so that no run pays for replacing the one before.
median_of() {
    lines=""
    peak=0
    k=0
    while [ "$k" -lt "$repeats" ]; do
        rm -f "$folder"/diff_* "$folder"/peer.*
        line=$("$@") || { echo "run-bench: failed: $line" >&2; exit 1; }
        rss=$(field maxrss_kib "$line")
        [ -n "$rss" ] && [ "$rss" -gt "$peak" ] && peak=$rss
        lines="$lines$(field wall_s "$line") $line
"
        k=$((k + 1))
    done
    printf '%s' "$lines" | sort -n | sed -n "$(((repeats + 1) / 2))p" | cut -d' ' -f2- |
        sed "s/maxrss_kib=[0-9]*/maxrss_kib=$peak/"
}

# session NAME ANSWERS INPUT_BYTES: times one session with both programs; sets wall,
# peak (KiB), cpu (processor time over wall time: 2 with both cores busy throughout),
# base_wall and base_peak (empty without a second program).
session() {
    t=$(median_of "$bin/session_timer" "$root" "$2" 1 "$program")
    wall=$(field wall_s "$t")
    peak=$(field maxrss_kib "$t")
    cpu=$(echo "$(field user_s "$t") $(field sys_s "$t") $wall" | awk '{ printf "%.2f", ($1 + $2) / $3 }')
    base_wall=""
    base_peak=""
    if [ -n "$baseline" ]; then
        repeats_kept=$repeats
        repeats=${base_repeats:-$repeats}
        t=$(median_of "$bin/session_timer" "$root" "$2" 1 "$baseline")
        repeats=$repeats_kept
        base_wall=$(field wall_s "$t")
        base_peak=$(field maxrss_kib "$t")
    fi
    row "$1" "$wall" "$3" "$cells" "$peak" "$base_wall" "$base_peak"
    report_share=""
    if [ -n "$noreport" ]; then
        t=$(median_of "$bin/session_timer" "$root" "$2" 1 "$noreport")
        report_share=$(echo "$wall $(field wall_s "$t")" | awk '{ printf "%.1f", 100 * ($1 - $2) / $1 }')
        echo "    without the report of the change: $(field wall_s "$t") s, the report $report_share % of the session"
    fi
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

row() {  # name wall_s input_bytes cells peak_kib [baseline_wall_s baseline_peak_kib]
    echo "$2 $3 $4 $5 ${6:-0} ${7:-0}" | awk -v name="$1" '{
        printf "  %-36s %7.3f s %6.0f MB/s in %7.2f ns/cell %6.0f MiB peak", name, $1, $2 / $1 / 1e6,
               $1 * 1e9 / $3, $4 / 1024
        if ($5 > 0) printf " | without large pages %7.3f s %6.0f MiB", $5, $6 / 1024
        printf "\n" }'
}

# verdict VALUE OP LIMIT TEXT: "TEXT VALUE (target OP LIMIT: met|missed)"
verdict() {
    echo "$1 $3" | awk -v op="$2" -v text="$4" '{
        ok = (op == "<=") ? ($1 <= $2) : ($1 >= $2)
        printf "%s %s (target %s %s: %s)", text, $1, op, $2, ok ? "met" : "missed" }'
}

memory_kib=$(sed -n 's/^MemTotal: *\([0-9]*\) kB/\1/p' /proc/meminfo 2>/dev/null || true)
echo "ORMELIX benchmark: $(nproc 2>/dev/null || echo '?') cores, $(((${memory_kib:-0} + 524288) / 1048576)) GiB," \
    "$(sed -n 's/^model name[^:]*: //p' /proc/cpuinfo 2>/dev/null | head -n 1)"
echo "median of $repeats runs, files in $scratch"
if [ -n "$baseline" ]; then
    echo "large pages: $(cat /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null || echo unknown);" \
        "each session also timed without them ($baseline)"
fi
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
    [ -f "$folder/stable.tif" ] || "$bin/make_bench_geotiffs" "$folder"
    asc_in=$(bytes_of "$folder/north.asc" "$folder/south.asc")
    m2_in=$(bytes_of "$folder/north_m2.raw" "$folder/south_m2.raw")
    m4_in=$(bytes_of "$folder/north_m4.raw" "$folder/south_m4.raw")
    mixed_in=$(bytes_of "$folder/north.asc" "$folder/south_m2.raw")
    mixed2_in=$(bytes_of "$folder/north_m4.raw" "$folder/south.asc")

    echo
    echo "$side x $side cells ($cells), inputs: ASCII pair $((asc_in / 1000000)) MB, 16-bit pair $((m2_in / 1000000)) MB, 32-bit pair $((m4_in / 1000000)) MB, GeoTIFF pair $(($(bytes_of "$folder/north.tif" "$folder/south.tif") / 1000000)) MB"

    session "ASCII -> ASCII" 'bench\nnorth\n0\nsouth\n0\ndiff\n0\n0\n1\n' "$asc_in"
    aa_wall=$wall
    aa_peak=$peak
    aa_report=$report_share
    peaks="ASCII->ASCII $peak ${base_peak:-0}"
    out_bytes=$(bytes_of "$folder/diff_val_abs.asc")

    session "16-bit cm -> 16-bit cm" 'bench\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n1\n0\n1\n0\n5\n2\n' "$m2_in"
    r16_wall=$wall
    r16_report=$report_share
    r16_out=$(bytes_of "$folder/diff_val_abs_m2.raw")
    peaks="$peaks 16-bit->16-bit $peak ${base_peak:-0}"

    session "32-bit mm -> 32-bit mm" 'bench\nnorth\n1\n1\n3\nsouth\n1\n1\n3\ndiff\n1\n0\n1\n1\n5\n3\n' "$m4_in"
    r32_wall=$wall
    peaks="$peaks 32-bit->32-bit $peak ${base_peak:-0}"

    session "ASCII + 16-bit cm -> ASCII" 'bench\nnorth\n0\nsouth\n1\n0\n2\ndiff\n0\n0\n1\n' "$mixed_in"
    mixed_wall=$wall
    peaks="$peaks ASCII+16-bit->ASCII $peak ${base_peak:-0}"

    session "32-bit mm + ASCII -> 16-bit cm" 'bench\nnorth\n1\n1\n3\nsouth\n0\ndiff\n1\n0\n1\n0\n5\n2\n' "$mixed2_in"
    peaks="$peaks 32-bit+ASCII->16-bit $peak ${base_peak:-0}"

    # The pair as GIS tools deliver it: Float32 GeoTIFFs, tiled, Deflate + predictor 3.
    tif_in=$(bytes_of "$folder/north.tif" "$folder/south.tif")
    session "GeoTIFF -> GeoTIFF" 'bench\nnorth\n2\nsouth\n2\ndiff\n2\n0\n1\n' "$tif_in"
    tif_wall=$wall
    tif_report=$report_share
    # The large frame's time is weighed against this session's, at 5000 x 5000 when run.
    if [ "$side" = 5000 ] || [ "${reference_side:-}" != 5000 ]; then
        reference_side=$side
        reference_wall=$wall
    fi
    tif_peak=$peak
    tif_cpu=$cpu
    echo "  GeoTIFF -> GeoTIFF: processor time $cpu x the wall time"
    peaks="$peaks GeoTIFF->GeoTIFF $peak ${base_peak:-0}"

    # The change at a confidence level beside the limit: two uniform errors are a limit of
    # t x sigma and must take no longer; two error grids (the epochs' own files copied,
    # which detect nothing: the time is the reading and the pass) at most 1.5 x the limit.
    session "GeoTIFF -> GeoTIFF, limit 0.5 m" 'bench\nnorth\n2\nsouth\n2\ndiff\n2\n0\n0\n0.5\n' "$tif_in"
    limit_wall=$wall
    session "GeoTIFF -> GeoTIFF, uniform errors at 95 %" \
        'bench\nnorth\n2\nsouth\n2\ndiff\n2\n0\n2\n0.1\n0.15\n95\n' "$tif_in"
    uniform_ratio=$(echo "$wall $limit_wall" | awk '{ printf "%.2f", $1 / $2 }')
    [ -f "$folder/error_north.tif" ] || cp "$folder/north.tif" "$folder/error_north.tif"
    [ -f "$folder/error_south.tif" ] || cp "$folder/south.tif" "$folder/error_south.tif"
    session "GeoTIFF -> GeoTIFF, two error grids at 95 %" \
        'bench\nnorth\n2\nsouth\n2\ndiff\n2\n0\n2\nerror_north\nerror_south\n95\n' \
        "$((tif_in * 2))"
    grids_ratio=$(echo "$wall $limit_wall" | awk '{ printf "%.2f", $1 / $2 }')
    echo "  confidence level: uniform errors $uniform_ratio x the limit session (target at most 1), two error" \
        "grids $grids_ratio x (target at most 1.5)"

    # The command line: a plain run takes the dialogue's time; the budgets per class and
    # on stable ground (make_bench_geotiffs' classes.tif and stable.tif) at most 1.15 x it.
    cli_session() {
        name=$1
        shift
        t=$(median_of "$bin/session_timer" "$folder" '' 1 "$program" "$@")
        wall=$(field wall_s "$t")
        row "$name" "$wall" "${cli_in:-$tif_in}" "$cells" "$(field maxrss_kib "$t")"
    }
    cli_session "command line, GeoTIFF -> GeoTIFF" north.tif south.tif diff_cli.tif --kind absolute
    cli_wall=$wall
    cli_peak=$(field maxrss_kib "$t")
    cli_ratio=$(echo "$wall $tif_wall" | awk '{ printf "%.2f", $1 / $2 }')
    # The same in bands of lines within 64 MiB: at most 1.3 x the default's time; peaks
    # of at most 200 MiB with the default --memory and 64 MiB with --memory 64M.
    # The first epoch in the forms the program reads through GDAL, against the same second
    # GeoTIFF: a VRT mosaic of 4 x 4 GeoTIFF tiles (as a survey of tiles is delivered) at
    # most 1.3 x the plain command line's time, an Erdas Imagine .img at most 1.5 x.
    vrt_ratio=""
    img_ratio=""
    if [ "$have_gdal_forms" = 1 ]; then
        if [ ! -f "$folder/north_tiles.vrt" ]; then
            step=$(((side + 3) / 4))
            tiles=""
            for i in 0 1 2 3; do
                for j in 0 1 2 3; do
                    x=$((j * step))
                    y=$((i * step))
                    w=$((side - x < step ? side - x : step))
                    h=$((side - y < step ? side - y : step))
                    gdal_translate -q -srcwin "$x" "$y" "$w" "$h" -co TILED=YES -co COMPRESS=DEFLATE \
                        -co PREDICTOR=3 -co ZLEVEL=1 "$folder/north.tif" "$folder/north_tile_${i}_$j.tif"
                    tiles="$tiles north_tile_${i}_$j.tif"
                done
            done
            # (relative paths in the mosaic: it is read from its own folder)
            (cd "$folder" && gdalbuildvrt -q north_tiles.vrt $tiles)
        fi
        [ -f "$folder/north.img" ] || gdal_translate -q -of HFA "$folder/north.tif" "$folder/north.img"
        cli_in=$(($(cat "$folder"/north_tile_*.tif | wc -c) + $(bytes_of "$folder/south.tif")))
        cli_session "command line, VRT of 16 tiles + GeoTIFF" north_tiles.vrt south.tif diff_cli.tif --kind absolute
        vrt_ratio=$(echo "$wall $cli_wall" | awk '{ printf "%.2f", $1 / $2 }')
        cli_in=$(bytes_of "$folder/north.img" "$folder/south.tif")
        cli_session "command line, .img + GeoTIFF" north.img south.tif diff_cli.tif --kind absolute
        img_ratio=$(echo "$wall $cli_wall" | awk '{ printf "%.2f", $1 / $2 }')
        cli_in=""
        echo "  through GDAL: the first epoch as a VRT of 16 GeoTIFF tiles $vrt_ratio x the plain command line" \
            "(target at most 1.3), as an .img $img_ratio x (target at most 1.5)"
    else
        echo "  GDAL's forms: gdal_translate, gdalbuildvrt or the program's --gdal missing; not timed"
    fi
    cli_session "command line, --memory 64M" north.tif south.tif diff_cli.tif --kind absolute --memory 64M
    memory_ratio=$(echo "$wall $cli_wall" | awk '{ printf "%.2f", $1 / $2 }')
    cli_mib=$(echo "$cli_peak" | awk '{ printf "%.0f", $1 / 1024 }')
    memory_mib=$(field maxrss_kib "$t" | awk '{ printf "%.0f", $1 / 1024 }')
    echo "  --memory 64M: $memory_ratio x the default's time (target at most 1.3), peak $memory_mib MiB" \
        "(target at most 64) against $cli_mib MiB with the default --memory (target at most 200)"
    cli_session "command line, classes and stable ground" north.tif south.tif diff_cli.tif --kind absolute \
        --classes classes.tif --stable stable.tif
    budgets_ratio=$(echo "$wall $cli_wall" | awk '{ printf "%.2f", $1 / $2 }')
    echo "  command line: $cli_ratio x the dialogue's GeoTIFF session; with --classes and --stable" \
        "$budgets_ratio x the plain command line (target at most 1.15)"

    # The epochs aligned on the stable ground first (--coregister): at most 1.3 x the same
    # session without it, and at most one grid of doubles more at its peak.
    cli_session "command line, stable ground" north.tif south.tif diff_cli.tif --stable stable.tif
    stable_wall=$wall
    stable_peak=$(field maxrss_kib "$t")
    cli_session "command line, stable ground, --coregister" north.tif south.tif diff_cli.tif --stable stable.tif \
        --coregister
    coreg_ratio=$(echo "$wall $stable_wall" | awk '{ printf "%.2f", $1 / $2 }')
    coreg_grids=$(echo "$(field maxrss_kib "$t") $stable_peak $cells" |
        awk '{ printf "%.2f", ($1 - $2) * 1024 / ($3 * 8) }')
    echo "  --coregister: $coreg_ratio x the same session without it (target at most 1.3), peak $coreg_grids" \
        "grids of doubles beyond it (target at most 1)"
    # The error from the stable ground: one σ (its NMAD) and σ by slope, each with the
    # variogram and the errors with their correlation; by slope at most 1.3 x the one σ.
    # The same stable ground with a limit instead has no model: with the frame held whole
    # (--memory 3G), the difference is the variogram and the correlated errors (target
    # under 0.3 s). In bands, the test from the stable ground also needs a first pass over
    # the epochs, which the difference at the default --memory shows besides.
    cli_session "command line, --stable, limit 0.5 m" north.tif south.tif diff_cli.tif --stable stable.tif \
        --limit 0.5
    stable_limit_wall=$wall
    cli_session "command line, --sigma stable at 95 %" north.tif south.tif diff_cli.tif --stable stable.tif \
        --sigma stable --confidence 95
    sigma_stable_wall=$wall
    cli_session "command line, --sigma stable-slope at 95 %" north.tif south.tif diff_cli.tif --stable stable.tif \
        --sigma stable-slope --confidence 95
    slope_ratio=$(echo "$wall $sigma_stable_wall" | awk '{ printf "%.2f", $1 / $2 }')
    banded_model_s=$(echo "$sigma_stable_wall $stable_limit_wall" | awk '{ printf "%.2f", $1 - $2 }')
    cli_session "command line, --stable, limit 0.5 m, held whole" north.tif south.tif diff_cli.tif \
        --stable stable.tif --limit 0.5 --memory 3G
    whole_limit_wall=$wall
    cli_session "command line, --sigma stable at 95 %, held whole" north.tif south.tif diff_cli.tif \
        --stable stable.tif --sigma stable --confidence 95 --memory 3G
    model_s=$(echo "$wall $whole_limit_wall" | awk '{ printf "%.2f", $1 - $2 }')
    echo "  error by slope: $slope_ratio x the session with --sigma stable (target at most 1.3); the variogram" \
        "and the correlated errors $model_s s (--sigma stable less the limit's session, held whole; target under" \
        "0.3); in bands, with the first pass over the epochs, $banded_model_s s"

    # The second epoch half a cell east and south of the first: resampled onto its cells.
    session "GeoTIFF half a cell off -> GeoTIFF" 'bench\nnorth\n2\nsouth_half\n2\ndiff\n2\n0\n1\n' "$tif_in"
    half_ratio=$(echo "$wall $tif_wall" | awk '{ printf "%.2f", $1 / $2 }')
    # Its peak beyond the aligned session's, in grids of doubles of the frame.
    half_grids=$(echo "$peak $tif_peak $cells" | awk '{ printf "%.2f", ($1 - $2) * 1024 / ($3 * 8) }')
    peaks="$peaks GeoTIFF-half->GeoTIFF $peak ${base_peak:-0}"

    # The second epoch in the next UTM zone: reprojected onto the first's cells.
    session "GeoTIFF in two UTM zones -> GeoTIFF" 'bench\nnorth\n2\nsouth_utm32\n2\ndiff\n2\n0\n1\n' "$tif_in"
    zones_ratio=$(echo "$wall $tif_wall" | awk '{ printf "%.2f", $1 / $2 }')
    peaks="$peaks GeoTIFF-two-zones->GeoTIFF $peak ${base_peak:-0}"

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
        t=$(median_of "$bin/session_timer" "$folder" '' 1 sh -c \
            'AAIGRID_DATATYPE=Float64 gdal_calc.py --quiet --overwrite -A north.asc -B south.asc --outfile=peer.tif --calc="absolute(A-B)" --type=Float64 && gdal_translate -q -of AAIGrid peer.tif peer.asc')
        peer=$(field wall_s "$t")
        row "GDAL: gdal_calc.py + gdal_translate" "$peer" "$asc_in" "$cells" "$(field maxrss_kib "$t")"
        rm -f "$folder"/peer.*
        # The GeoTIFF job, GDAL's way: the same files, the same creation options.
        t=$(median_of "$bin/session_timer" "$folder" '' 1 sh -c \
            'gdal_calc.py --quiet --overwrite -A north.tif -B south.tif --outfile=peer.tif --calc="numpy.abs(A-B)" --type=Float32 --NoDataValue=-9999 --co TILED=YES --co BLOCKXSIZE=256 --co BLOCKYSIZE=256 --co COMPRESS=DEFLATE --co PREDICTOR=3 --co ZLEVEL=1')
        tif_peer=$(field wall_s "$t")
        row "GDAL: gdal_calc.py, GeoTIFF job" "$tif_peer" "$tif_in" "$cells" "$(field maxrss_kib "$t")"
        # The way round before the program read GeoTIFF: both epochs to ASCII grids, the
        # ASCII session, the result back to a GeoTIFF with its coordinate system. Once:
        # it takes a minute at 5000 x 5000.
        repeats_kept=$repeats
        repeats=1
        t=$(median_of "$bin/session_timer" "$folder" '' 1 sh -c \
            'gdal_translate -q -of AAIGrid north.tif peer.north.asc && gdal_translate -q -of AAIGrid south.tif peer.south.asc && printf "bench\npeer.north\n0\npeer.south\n0\ndiff\n0\n0\n1\n" | (cd ../.. && "$0" > /dev/null) && gdal_translate -q -a_srs EPSG:32631 -co TILED=YES -co COMPRESS=DEFLATE -co PREDICTOR=3 -co ZLEVEL=1 diff_val_abs.asc peer.tif' "$program")
        repeats=$repeats_kept
        tif_pipeline=$(field wall_s "$t")
        row "GDAL to ASCII, ORMELIX, back (once)" "$tif_pipeline" "$tif_in" "$cells" "$(field maxrss_kib "$t")"
        rm -f "$folder"/peer.*
    else
        echo "  GDAL: gdal_calc.py or gdal_translate not installed; the peer pipelines are not timed"
    fi

    touch_s=$(field faults_s "$f")
    ratios=$(echo "$aa_wall $floor $r16_wall $io_s $aa_peak $cells $touch_s" | awk '{
        printf "ASCII->ASCII %.2f x the one-core floor; ", $1 / $2
        printf "16-bit->16-bit %.2f x reading and writing its bytes, ", $3 / $4
        printf "%.2f x that plus the first touch of the three grids of doubles; ", $3 / ($4 + $7)
        limit = ($6 * 24 + 64 * 1048576) / 1024
        printf "ASCII->ASCII peak %.0f MiB, limit 3 x 8 bytes/cell + 64 MiB = %.0f MiB", $5 / 1024, limit / 1024
    }')
    if [ "$side" = 5000 ]; then
        ratios="$ratios; $(verdict "$aa_wall" "<=" 1.2 "ASCII->ASCII s");"
        ratios="$ratios $(verdict "$r16_wall" "<=" 0.5 "16-bit->16-bit s");"
        ratios="$ratios $(verdict "$r32_wall" "<=" 0.6 "32-bit->32-bit s");"
        ratios="$ratios $(verdict "$mixed_wall" "<=" 1.2 "ASCII+16-bit->ASCII s");"
        ratios="$ratios $(verdict "$tif_cpu" ">=" 1.2 "GeoTIFF->GeoTIFF processor/wall time")"
        # The report's own work in the benchmark program, on epochs of this size: the
        # run's pass with the report against the difference alone, one after the other,
        # as a share of each session. In a run the map is drawn while the output is
        # written, which hides some of it; the sessions timed without the report (above)
        # say the rest, when the machine is quiet enough for a few per cent to show.
        # With the memory the report takes beyond the grids.
        pass_of() {
            "$bin/ormelix_bench" --benchmark_filter="$1" --benchmark_repetitions=5 \
                --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null
        }
        passes="$(pass_of BM_DifferenceWithoutReport)
$(pass_of BM_DifferenceAndReport)"
        alone_ms=$(echo "$passes" | awk -F, '/^"BM_DifferenceWithoutReport.*_median"/ { print $3 }')
        with_ms=$(echo "$passes" | awk -F, '/^"BM_DifferenceAndReport.*_median"/ { print $3 }')
        report_mib=$(echo "$passes" | awk -F, '/^"BM_DifferenceAndReport.*_median"/ { printf "%.1f", $(NF - 1) }')
        if [ -n "$alone_ms" ] && [ -n "$with_ms" ]; then
            report_ms=$(echo "$with_ms $alone_ms" | awk '{ printf "%.1f", $1 - $2 }')
            share() { echo "$report_ms $1" | awk '{ printf "%.1f", $1 / 10 / $2 }'; }
            echo "  report of the change: $report_ms ms of work (the pass with it $with_ms ms, the difference" \
                "alone $alone_ms ms, medians of 5), $report_mib MiB beyond the grids"
            ratios="$ratios; $(verdict "$(share "$aa_wall")" "<=" 5 "report's work % of ASCII->ASCII");"
            ratios="$ratios $(verdict "$(share "$r16_wall")" "<=" 5 "report's work % of 16-bit->16-bit");"
            ratios="$ratios $(verdict "$(share "$tif_wall")" "<=" 5 "report's work % of GeoTIFF->GeoTIFF");"
            ratios="$ratios $(verdict "$report_mib" "<=" 16 "report MiB beyond the grids")"
        fi
    fi
    ratios="$ratios; $(verdict "$grids_ratio" "<=" 1.5 "two error grids / limit time");"
    ratios="$ratios $(verdict "$budgets_ratio" "<=" 1.15 "command line with classes and stable ground / plain time")"
    if [ -n "$vrt_ratio" ]; then
        ratios="$ratios; $(verdict "$vrt_ratio" "<=" 1.3 "command line, VRT of 16 GeoTIFF tiles / one GeoTIFF time");"
        ratios="$ratios $(verdict "$img_ratio" "<=" 1.5 "command line, .img / GeoTIFF time")"
    fi
    ratios="$ratios; $(verdict "$memory_ratio" "<=" 1.3 "command line --memory 64M / default time");"
    ratios="$ratios $(verdict "$cli_mib" "<=" 200 "command line peak MiB, default --memory");"
    ratios="$ratios $(verdict "$memory_mib" "<=" 64 "command line peak MiB, --memory 64M");"
    ratios="$ratios $(verdict "$(echo "$tif_peak" | awk '{ printf "%.0f", $1 / 1024 }')" "<=" 200 \
        "GeoTIFF->GeoTIFF peak MiB (the dialogue: default memory)")"
    ratios="$ratios; $(verdict "$coreg_ratio" "<=" 1.3 "--coregister / the same session without");"
    ratios="$ratios $(verdict "$coreg_grids" "<=" 1 "--coregister, peak beyond the session without in grids of doubles")"
    ratios="$ratios; $(verdict "$slope_ratio" "<=" 1.3 "--sigma stable-slope / --sigma stable time");"
    ratios="$ratios $(verdict "$model_s" "<=" 0.3 "variogram and correlated errors s")"
    ratios="$ratios; $(verdict "$half_ratio" "<=" 1.3 "GeoTIFF half a cell off / aligned time");"
    ratios="$ratios $(verdict "$zones_ratio" "<=" 1.5 "GeoTIFF in two UTM zones / one zone time");"
    ratios="$ratios $(verdict "$half_grids" "<=" 1 "GeoTIFF half a cell off, peak beyond the aligned in grids of doubles")"
    ratios="$ratios; $(echo "$tif_peak $cells" | awk '{
        limit = ($2 * 24 + 64 * 1048576) / 1024
        printf "GeoTIFF->GeoTIFF peak %.0f MiB (target <= 3 x 8 bytes/cell + 64 MiB = %.0f MiB: %s)",
               $1 / 1024, limit / 1024, $1 <= limit ? "met" : "missed" }')"
    if [ -n "$peer" ]; then
        gdal_ratio=$(echo "$peer $aa_wall" | awk '{ printf "%.1f", $1 / $2 }')
        case $side in
        5000) ratios="$ratios; $(verdict "$gdal_ratio" ">=" 14 "GDAL/ORMELIX")" ;;
        2000) ratios="$ratios; $(verdict "$gdal_ratio" ">=" 12 "GDAL/ORMELIX")" ;;
        *) ratios="$ratios; GDAL/ORMELIX $gdal_ratio" ;;
        esac
        tif_ratio=$(echo "$tif_peer $tif_wall" | awk '{ printf "%.1f", $1 / $2 }')
        ratios="$ratios; $(verdict "$tif_ratio" ">=" 3 "gdal_calc.py/ORMELIX on the GeoTIFF job")"
        ratios="$ratios; the ASCII round trip takes $(echo "$tif_pipeline $tif_wall" | awk '{ printf "%.1f", $1 / $2 }') x the GeoTIFF session"
    else
        ratios="$ratios; GDAL not installed (gdal_calc.py, gdal_translate): no peer timing"
    fi
    if [ -n "$baseline" ]; then
        # Large pages may cost at most 8 MiB of peak memory on any session.
        ratios="$ratios; $(echo "$peaks" | awk '{
            worst = -1e9
            for (k = 1; k + 2 <= NF; k += 3) if ($(k + 1) - $(k + 2) > worst) { worst = $(k + 1) - $(k + 2); name = $k }
            printf "peak with large pages - without, largest: %+.1f MiB (%s, target <= 8: %s)",
                   worst / 1024, name, worst <= 8192 ? "met" : "missed" }')"
    fi
    summary="$summary
$side x $side: $ratios"
    rm -f "$folder"/diff_* "$folder"/io_probe.raw
    if [ "$keep" != 1 ]; then
        rm -rf "$root"
    fi
done
if [ -n "$large" ]; then
    # One large session, 16-bit samples only: its ASCII grids would be tens of gigabytes.
    side=$large
    root=$scratch/large-$side
    folder=$root/images/bench
    cells=$((side * side))
    if [ ! -f "$folder/.complete" ]; then
        rm -rf "$root"
        "$bin/make_bench_grids" "$root" "$side" m2
        touch "$folder/.complete"
    fi
    m2_in=$(bytes_of "$folder/north_m2.raw" "$folder/south_m2.raw")
    echo
    echo "$side x $side cells ($cells), 16-bit pair $((m2_in / 1000000)) MB"
    # Three runs with large pages, one without: that one takes minutes.
    large_repeats_kept=$repeats
    repeats=${BENCH_LARGE_REPEATS:-3}
    base_repeats=1
    session "16-bit cm -> 16-bit cm" 'bench\nnorth\n1\n0\n2\nsouth\n1\n0\n2\ndiff\n1\n0\n1\n0\n5\n2\n' "$m2_in"
    repeats=$large_repeats_kept
    base_repeats=
    line="$(echo "$peak ${base_wall:-0} ${base_peak:-0}" | awk '{
        printf "peak %.0f MiB", $1 / 1024
        if ($2 > 0) printf ", without large pages %s s and %.0f MiB", $2, $3 / 1024 }')"
    if [ "$side" = 20000 ]; then
        line="$(verdict "$wall" "<=" 12 "16-bit->16-bit s"), $line"
    else
        line="16-bit->16-bit $wall s, $line"
    fi
    summary="$summary
$side x $side: $line"
    rm -f "$folder"/diff_*
    if [ "$keep" != 1 ]; then
        rm -rf "$root"
    fi
fi
if [ "$huge" != 0 ]; then
    # A frame beyond the machine's memory: the pair is made once (a few minutes) and kept;
    # one run, to a GeoTIFF with the budget and the report, at the default --memory.
    side=$huge
    root=$scratch/huge-$side
    cells=$((side * side))
    made="kept from an earlier run"
    if [ ! -f "$root/.complete" ]; then
        rm -rf "$root"
        mkdir -p "$root"
        t=$("$bin/session_timer" "$root" '' 1 "$bin/make_large_pair" "$root/huge" "$side") ||
            { echo "run-bench: make_large_pair failed: $t" >&2; exit 1; }
        touch "$root/.complete"
        made="made in $(field wall_s "$t") s (processor $(field user_s "$t") s)"
        made="$made, peak $(($(field maxrss_kib "$t") / 1024)) MiB"
    fi
    huge_in=$(bytes_of "$root/huge1.tif" "$root/huge2.tif")
    echo
    echo "$side x $side cells ($cells), Float32 GeoTIFF pair $((huge_in / 1000000)) MB" \
        "($((cells / 125000)) MB of samples), $made"
    rm -f "$root"/huge_diff*
    # One run; a failure is reported, not fatal: the status is the first target.
    t=$("$bin/session_timer" "$root" '' 1 "$program" huge1.tif huge2.tif huge_diff.tif) || true
    status=$(field status "$t")
    wall=$(field wall_s "$t")
    peak=$(field maxrss_kib "$t")
    row "command line, GeoTIFF -> GeoTIFF" "$wall" "$huge_in" "$cells" "$peak"
    written=""
    for f in huge_diff.tif huge_diff_budget.csv huge_diff_report.html; do
        if [ -f "$root/$f" ]; then
            written="$written, $f $(bytes_of "$root/$f" | awk '{ printf "%.1f", $1 / 1e6 }') MB"
        else
            written="$written, no $f"
        fi
    done
    echo "  status $status$written"
    line="completes (status $status: $([ "$status" = 0 ] && echo met || echo missed))"
    if [ "$status" != 0 ]; then
        line="$line; peak and time not weighed: the run failed"
    else
        # Under 1 GiB, and at most 1.2 x the GeoTIFF session's time per cell.
        line="$line; $(verdict "$(echo "$peak" | awk '{ printf "%.0f", $1 / 1024 }')" "<=" 1024 "peak MiB")"
        if [ -n "${reference_side:-}" ]; then
            share=$(echo "$cells $reference_side" | awk '{ printf "%.4g", $1 / ($2 * $2) }')
            limit=$(echo "$share $reference_wall" | awk '{ printf "%.1f", 1.2 * $1 * $2 }')
            line="$line; $(verdict "$wall" "<=" "$limit" \
                "time s (1.2 x $share x the $reference_side x $reference_side GeoTIFF session's $reference_wall s)")"
        else
            line="$line; $wall s (no GeoTIFF session in BENCH_SIZES to weigh it against)"
        fi
    fi
    summary="$summary
$side x $side: $line"
    if [ "$keep" != 1 ]; then
        rm -f "$root"/huge_diff*
    fi
fi
echo
echo "Against the targets:$summary" | sed 's/; /\n    /g'
