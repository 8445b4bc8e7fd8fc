#!/bin/sh
# `make fuzz`: builds the harnesses with clang's libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs each for FUZZ_SECONDS from a copy of its seed
# corpus and kept regression inputs. Fails when any harness finds a fault.
#   sh fuzz/run-fuzz.sh [build folder] [seconds per harness] [harness ...]
# FUZZ_RUNS=n also ends each harness after n executions, whichever comes first.
set -u
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build-fuzz}
seconds=${2:-60}
[ $# -gt 2 ] && shift 2 || set --
cxx=${FUZZ_CXX:-clang++}

mkdir -p "$build" || exit 1
build=$(cd "$build" && pwd)

if ! command -v "$cxx" >/dev/null 2>&1; then
    echo "make fuzz needs clang++ (Debian: apt-get install clang-14 libclang-rt-14-dev)." >&2
    exit 1
fi
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }\n' \
    > "$build/probe.cpp"
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$build/probe.cpp" -o "$build/probe" \
        > "$build/probe.log" 2>&1; then
    echo "clang's libFuzzer runtime is missing (see $build/probe.log)." >&2
    echo "Debian: apt-get install libclang-rt-14-dev (or the libclang-rt-N-dev of your clang N)." >&2
    exit 1
fi

cmake -S "$source_dir" -B "$build" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release \
      -DORMELIX_FUZZ=ON -DORMELIX_TESTS=OFF > "$build/configure.log" || exit 1
if [ $# -eq 0 ]; then
    for source in "$source_dir"/fuzz/*_fuzz.cpp; do
        name=$(basename "$source" _fuzz.cpp)
        set -- "$@" "$name"
    done
fi
targets=""
for name in "$@"; do targets="$targets ${name}_fuzz"; done
# shellcheck disable=SC2086
cmake --build "$build" -j "${JOBS:-2}" --target $targets || exit 1

# Freed memory waits in AddressSanitizer's quarantine before it is reused, 256 MB of it
# by default: each input, a few kilobytes, then meets only fresh memory, each page of it
# a fault, and the harness holds hundreds of megabytes. 16 MB still holds the frees of
# many inputs, so that a use after free within one is caught as before.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16}"
failed=""
summary=""
for name in "$@"; do
    work="$build/work/$name"
    findings="$build/findings/$name"
    rm -rf "$work"
    mkdir -p "$work" "$findings"
    # The fuzzer adds to its corpus as it goes: a copy, so the seeds in the tree stay few.
    for kept in "$source_dir/fuzz/corpus/$name" "$source_dir/fuzz/regressions/$name"; do
        [ -d "$kept" ] && find "$kept" -maxdepth 1 -type f ! -name '.*' -exec cp {} "$work/" \;
    done
    dict=""
    [ -f "$source_dir/fuzz/$name.dict" ] && dict="-dict=$source_dir/fuzz/$name.dict"
    log="$build/$name.log"
    echo "fuzzing $name for $seconds s (log $log)"
    # shellcheck disable=SC2086
    "$build/${name}_fuzz" -max_total_time="$seconds" ${FUZZ_RUNS:+-runs=$FUZZ_RUNS} -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" $dict "$work" \
        > "$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -n 1)
    summary="$summary$name: ${runs:-?} executions in ${took:-$seconds} s
"
    if [ $status -ne 0 ]; then
        failed="$failed $name"
        echo "FINDING in $name (exit $status): the input is in $findings/; the log is $log." >&2
        echo "Fix the fault, then keep the input as fuzz/regressions/$name/<short name>." >&2
        tail -n 30 "$log" >&2
    fi
done
printf '%s' "$summary"
if [ -n "$failed" ]; then
    echo "make fuzz: findings in:$failed" >&2
    exit 1
fi
echo "make fuzz: no findings"
