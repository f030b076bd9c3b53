#!/usr/bin/env bash
# Standard output that cannot be written is a failure: prendax_cli prints
# "No se pudo escribir la salida estándar" on standard error and exits 2 for
# the compile document, the frame, the console report and the compile errors'
# JSON alike. A device that is always full stands for a full disk.
#   stdout_full.sh PRENDAX_CLI ROBOT.zkv
set -u
cli=$1
robot=$2
if [ ! -w /dev/full ]; then
  echo "falta /dev/full: prueba omitida"
  [ "${CI:-}" = true ] && exit 1
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'START\nMOVE ARRIBA\nEND\n' >"$work/bad.zkv"

failed=0
# expect NAME STATUS ARGS...: the run to /dev/full gives STATUS and the message.
expect() {
  local name=$1 want=$2
  shift 2
  "$cli" "$@" >/dev/full 2>"$work/err.txt" </dev/null
  local status=$?
  local err
  err=$(tail -n 1 "$work/err.txt")
  if [ "$status" != "$want" ] || [ "$err" != "No se pudo escribir la salida estándar" ]; then
    echo "FALLO $name: estado $status (se esperaba $want), error: $err"
    failed=1
  fi
}
expect json 2 --json "$robot"
expect frame 2 --quiet --frame "$robot"
expect report 2 --ticks 50 "$robot"
expect bad_json 2 --json "$work/bad.zkv"
# Nothing written at all is no failure.
"$cli" --quiet "$robot" >/dev/full 2>"$work/err.txt"
status=$?
if [ "$status" != 0 ] || [ -s "$work/err.txt" ]; then
  echo "FALLO quiet: estado $status, error: $(cat "$work/err.txt")"
  failed=1
fi
[ $failed = 0 ] && echo "salida llena: correcto"
exit $failed
