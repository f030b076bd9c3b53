#!/usr/bin/env bash
# Runs one golden case through the real binary and compares stdout, stderr and
# the exit status byte for byte with the files kept beside the case.
#
# A case is a folder holding:
#   args             the command-line arguments, one per line (absent: none)
#   stdin            what standard input holds (absent: empty input)
#   expected.stdout  expected.stderr  expected.status
#   any source files the arguments name, relative to the folder
#
# With GOLDEN_UPDATE=1 the expected files are written from the run instead,
# for a person to read and approve before they are committed.
set -u
bin=$1
case_dir=$2
cd "$case_dir" || exit 2

args=()
if [ -f args ]; then
  while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < args
fi
input=/dev/null
[ -f stdin ] && input=stdin

out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
"$bin" "${args[@]+"${args[@]}"}" <"$input" >"$out" 2>"$err"
status=$?

if [ "${GOLDEN_UPDATE:-0}" = 1 ]; then
  cp "$out" expected.stdout
  cp "$err" expected.stderr
  echo "$status" > expected.status
  exit 0
fi

fail=0
if ! cmp -s "$out" expected.stdout; then
  echo "stdout differs in $case_dir:"; diff expected.stdout "$out" | head -40; fail=1
fi
if ! cmp -s "$err" expected.stderr; then
  echo "stderr differs in $case_dir:"; diff expected.stderr "$err" | head -40; fail=1
fi
want=$(cat expected.status)
if [ "$status" != "$want" ]; then
  echo "exit status $status, expected $want in $case_dir"; fail=1
fi
exit $fail
