#!/usr/bin/env bash
# A seed must replay a match bit for bit whatever built the binary. This builds
# prendax_cli with g++ at -O0 and -O2 and with clang++ at -O2, runs every line
# of cases.txt through each build (and through any further binaries named on
# the command line, such as the -O3 Release build), and checks that standard
# output, standard error and the exit status are byte-identical across them.
#
#   tests/repro/run.sh [WORK_DIR [EXTRA_BINARY...]]
#
# WORK_DIR defaults to build-repro/ at the top of the tree; the variants are
# built in WORK_DIR/<variant>/ and the runs are kept in WORK_DIR/runs/.
set -u
root=$(cd "$(dirname "$0")/../.." && pwd)
here=$root/tests/repro
work=${1:-$root/build-repro}
[ $# -gt 0 ] && shift
jobs=${JOBS:-2}
# Further CMake options for every variant (CI passes -DPRENDAX_WERROR=ON).
read -r -a cmake_flags <<<"${CMAKE_FLAGS:-}"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# name, compiler, build type, flags of that build type
variants=(
    "gcc-O0 g++ Debug -g -O0"
    "gcc-O2 g++ Release -O2 -DNDEBUG"
    "clang-O2 clang++ Release -O2 -DNDEBUG"
)

names=()
binaries=()
for v in "${variants[@]}"; do
    read -r name compiler type flags <<<"$v"
    if ! command -v "$compiler" >/dev/null 2>&1; then
        echo "repro: $compiler is not installed" >&2
        exit 2
    fi
    upper=$(echo "$type" | tr '[:lower:]' '[:upper:]')
    echo "repro: building $name"
    if ! { cmake -S "$root" -B "$work/$name" -DCMAKE_CXX_COMPILER="$compiler" -DCMAKE_BUILD_TYPE="$type" \
            "-DCMAKE_CXX_FLAGS_$upper=$flags" -DPRENDAX_TESTS=OFF "${cmake_flags[@]+"${cmake_flags[@]}"}" \
            >"$work/$name.log" 2>&1 &&
           cmake --build "$work/$name" -j "$jobs" --target prendax_cli >>"$work/$name.log" 2>&1; }; then
        echo "repro: the $name build failed; see $work/$name.log" >&2
        tail -20 "$work/$name.log" >&2
        exit 2
    fi
    names+=("$name")
    binaries+=("$work/$name/bin/prendax_cli")
done
for extra in "$@"; do
    if [ ! -x "$extra" ]; then
        echo "repro: $extra is not an executable" >&2
        exit 2
    fi
    names+=("extra-$(basename "$(dirname "$extra")")")
    binaries+=("$(cd "$(dirname "$extra")" && pwd)/$(basename "$extra")")
done

runs=$work/runs
rm -rf "$runs"
mkdir -p "$runs"
passed=0
failed=0
n=0
cd "$here" || exit 2
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in '' | '#'*) continue ;; esac
    n=$((n + 1))
    read -r -a args <<<"$line"
    for i in "${!binaries[@]}"; do
        out=$runs/$n.${names[$i]}
        "${binaries[$i]}" "${args[@]}" </dev/null >"$out.stdout" 2>"$out.stderr"
        echo $? >"$out.status"
    done
    first=$runs/$n.${names[0]}
    ok=1
    # Every case prints a report, a document or diagnostics: an empty run means a broken binary.
    if [ ! -s "$first.stdout" ] && [ ! -s "$first.stderr" ]; then
        echo "repro: case $n ($line) printed nothing"
        ok=0
    fi
    for i in "${!names[@]}"; do
        [ "$i" = 0 ] && continue
        other=$runs/$n.${names[$i]}
        for part in stdout stderr status; do
            if ! cmp -s "$first.$part" "$other.$part"; then
                echo "repro: case $n ($line): $part of ${names[$i]} differs from ${names[0]}"
                diff "$first.$part" "$other.$part" | head -10
                ok=0
            fi
        done
    done
    if [ $ok = 1 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
done <"$here/cases.txt"

echo "repro: ${#names[@]} builds (${names[*]})"
echo "repro: $passed passed, $failed failed"
[ "$failed" = 0 ] && [ "$passed" -gt 0 ]
