#!/usr/bin/env bash
# A seed plays the same bits whatever the processor: the C library picks its
# mathematical functions by what the processor offers (with or without FMA and
# AVX2 instructions on x86-64), so the engine must not depend on them. The
# matches of the example robots (seeds 1-200 and the largest seed, at each
# level) are played twice by the native interface, once as the machine chooses
# and once with glibc told to ignore FMA and AVX2, and the digests of the exact
# state (every 100 ticks) must be identical.
#   processor_test.sh NATIVE_API EXAMPLES_DIR WORK_DIR
set -u
native_api=$1
examples=$2
work=$3
mkdir -p "$work"
jobs=$work/jobs.txt
: >"$jobs"
for program in "$examples"/*.zkv; do
  for level in 1 2 3; do
    for seed in $(seq 1 200) 4294967295; do
      echo "$program $level $seed 3000 100" >>"$jobs"
    done
  done
done
play() {
  "$native_api" <"$jobs" >"$1" || { echo "FALLO: la interfaz nativa terminó mal"; exit 1; }
}
play "$work/chosen.jsonl"
GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA,-AVX2_Usable,-FMA_Usable,-AVX512F play "$work/plain.jsonl"
matches=$(wc -l <"$jobs")
played=$(wc -l <"$work/chosen.jsonl")
if [ "$played" -ne "$matches" ]; then
  echo "FALLO: $played líneas para $matches partidas"
  exit 1
fi
if ! cmp -s "$work/chosen.jsonl" "$work/plain.jsonl"; then
  echo "FALLO: el estado exacto cambia con las instrucciones del procesador ($(cmp "$work/chosen.jsonl" "$work/plain.jsonl"))"
  exit 1
fi
echo "OK: $matches partidas dan el mismo estado exacto con y sin FMA y AVX2"
