#!/usr/bin/env bash
# Runs the libFuzzer targets one after the other, each for SECONDS, from a
# corpus seeded with the golden and reproducibility programs plus the kept
# findings of fuzz/regressions/. A finding stops the run with a non-zero status;
# its input is left in BUILD_DIR/findings/ for fuzz/regressions/<target>/.
#
#   fuzz/run.sh BUILD_DIR SECONDS [compile|match|vm ...]
#
# BUILD_DIR must hold the targets (CMake with -DPRENDAX_FUZZ=ON and clang++).
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: fuzz/run.sh BUILD_DIR SECONDS [target...]}
seconds=${2:?usage: fuzz/run.sh BUILD_DIR SECONDS [target...]}
shift 2
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(compile match vm)

# The longest input each target reads (see fuzz/fuzz_entries.h): a little more
# than the source limit, and a header with 2048 instructions of 15 bytes.
max_len() {
    case $1 in
        compile) echo 16640 ;;
        match) echo 16647 ;;
        vm) echo 30729 ;;
    esac
}

corpus=$build/corpus
findings=$build/findings
mkdir -p "$findings"
shopt -s nullglob
programs=("$root"/tests/golden/*/*.zkv "$root"/tests/repro/corpus/*.zkv)
"$build/fuzz/fuzz_seed_corpus" "$corpus" "${programs[@]}" || exit 2

status=0
for t in "${targets[@]}"; do
    bin=$build/fuzz/fuzz_$t
    if [ ! -x "$bin" ]; then
        echo "fuzz: $bin is missing" >&2
        exit 2
    fi
    mkdir -p "$corpus/$t" "$root/fuzz/regressions/$t"
    dict=()
    [ "$t" != vm ] && dict=(-dict="$root/fuzz/zkv.dict")
    log=$build/fuzz_$t.log
    echo "fuzz: $t for ${seconds}s"
    # The first folder receives the new inputs; the kept findings are only read.
    "$bin" -max_total_time="$seconds" -max_len="$(max_len "$t")" -timeout=20 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$findings/$t-" "${dict[@]}" \
        "$corpus/$t" "$root/fuzz/regressions/$t" >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
    if [ $rc -ne 0 ]; then
        echo "fuzz: $t FAILED after ${runs:-?} runs; the log is $log:"
        grep -E -A12 'ERROR|property failed|runtime error|Test unit written' "$log" | head -60
        status=1
    else
        echo "fuzz: $t ran ${runs:-?} inputs, ${cov:-cov: ?}, corpus $(ls "$corpus/$t" | wc -l) files"
    fi
done
exit $status
