#!/usr/bin/env bash
# Runs the test stages of `make test` one after the other, each through its own
# make target, and ends with how many tests each stage ran, passed, failed and
# skipped. Every stage runs even when an earlier one failed, so one run shows
# every failure; the exit status is 1 when any stage failed.
#
#   tools/run-tests.sh LOG_DIR MAKE_TARGET:STAGE_NAME...
set -u
logs=${1:?usage: tools/run-tests.sh LOG_DIR TARGET:NAME...}
shift
mkdir -p "$logs"

# CTest prints one line per test: "  3/290 Test   #3: name ....   Passed    0.01 sec".
count_ctest() {
  local log=$1
  ran=$(grep -cE '^ *[0-9]+/[0-9]+ Test +#[0-9]+:' "$log")
  passed=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+:' "$log" | grep -cE ' Passed +[0-9.]+ sec')
  skipped=$(grep -E '^ *[0-9]+/[0-9]+ Test +#[0-9]+:' "$log" | grep -c '\*\*\*Skipped')
  failed=$((ran - passed - skipped))
}
# The fuzz stage prints "fuzz: T ran N inputs" or "fuzz: T FAILED" per target.
count_fuzz() {
  passed=$(grep -cE '^fuzz: [a-z]+ ran ' "$1")
  failed=$(grep -cE '^fuzz: [a-z]+ FAILED' "$1")
  skipped=0
  ran=$((passed + failed))
}
# The reproducibility check ends with "repro: P passed, F failed".
count_repro() {
  passed=$(sed -n 's/^repro: \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' "$1" | tail -1)
  failed=$(sed -n 's/^repro: \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' "$1" | tail -1)
  passed=${passed:-0}
  failed=${failed:-0}
  skipped=0
  ran=$((passed + failed))
}

summary=()
status=0
total_ran=0 total_passed=0 total_failed=0 total_skipped=0
for stage in "$@"; do
  target=${stage%%:*}
  name=${stage#*:}
  log=$logs/$target.log
  echo "== $name (make $target)"
  make --no-print-directory "$target" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  case $target in
    fuzz-smoke) count_fuzz "$log" ;;
    repro) count_repro "$log" ;;
    *) count_ctest "$log" ;;
  esac
  # A stage that failed before any test ran (a build error) still counts as failed.
  if [ "$rc" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
  [ "$rc" -ne 0 ] && status=1
  [ "$ran" -eq 0 ] && [ "$rc" -eq 0 ] && { echo "$name: no test ran"; status=1; }
  summary+=("$(printf '%-24s %5d ran, %5d passed, %3d failed, %3d skipped' "$name:" "$ran" "$passed" "$failed" "$skipped")")
  total_ran=$((total_ran + ran)) total_passed=$((total_passed + passed))
  total_failed=$((total_failed + failed)) total_skipped=$((total_skipped + skipped))
done

echo
echo "== test stages"
printf '%s\n' "${summary[@]}"
echo "tests: $total_passed passed, $total_failed failed, $total_skipped skipped"
exit $status
