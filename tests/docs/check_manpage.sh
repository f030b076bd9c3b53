#!/usr/bin/env bash
# Checks the manual page: groff reads it without a single warning, it has the
# sections a manual page needs, and it agrees with the tool it describes (every
# option of the usage line, the extra options, the exit statuses, the version).
#
#   check_manpage.sh PAGE TOOL PRENDAX_CLI [EXTRA_OPTION...]
#
# TOOL is the program the page describes; EXTRA_OPTION are the options its
# usage line leaves out; PRENDAX_CLI prints the version in its banner.
#
# Skipped when groff is not installed (failed for that under CI=true).
set -u
page=$1
bin=$2
cli=$3
shift 3
extras=("$@")
source "$(dirname "$0")/../skip.sh"

command -v groff >/dev/null 2>&1 || missing "groff (paquete groff-base de Debian)"

fail=0
complain() { echo "$page: $*"; fail=1; }

# groff must read the page silently, whatever the output device.
for device in "-z" "-Tutf8" "-Tascii"; do
  warnings=$(groff -man -ww "$device" "$page" 2>&1 >/dev/null)
  status=$?
  if [ "$status" -ne 0 ] || [ -n "$warnings" ]; then
    complain "groff -man -ww $device (estado $status):"
    echo "$warnings"
  fi
done

text=$(groff -man -Tutf8 -P-c -P-b -P-u "$page" 2>/dev/null)

for section in "NOMBRE" "SINOPSIS" "DESCRIPCIÓN" "OPCIONES" "ESTADO DE SALIDA" "EJEMPLOS"; do
  grep -qx "$section" <<<"$text" || complain "falta la sección $section"
done

# Every option the tool's usage line names, and the ones it leaves out.
usage=$("$bin" --help </dev/null)
options=$(grep -oE -- '--[a-z][a-z0-9-]*|(^|[[ ])-[a-z]( |]|$)' <<<"$usage" | tr -d '[] ')
[ -n "$options" ] || complain "la línea de uso de $bin no nombra ninguna opción: $usage"
synopsis=$(sed -n '/^SINOPSIS$/,/^DESCRIPCIÓN$/p' <<<"$text")
entries=$(sed -n '/^OPCIONES$/,/^ESTADO DE SALIDA$/p' <<<"$text")
for option in $options "${extras[@]}"; do
  grep -qE -- "(^|[[ ])$option( |]|$)" <<<"$synopsis" || complain "SINOPSIS no muestra la opción $option"
  # an entry of OPCIONES: the option at the start of an indented line, maybe after others
  grep -qE -- "^ {7}(--?[a-z]+, )*$option( |,|$)" <<<"$entries" || complain "OPCIONES no describe $option"
done

# The exit statuses, each as an entry of its section.
statuses=$(sed -n '/^ESTADO DE SALIDA$/,/^EJEMPLOS$/p' <<<"$text")
for status in 0 1 2; do
  grep -qE "^ {7}$status( |$)" <<<"$statuses" || complain "ESTADO DE SALIDA no describe el estado $status"
done

# The version in the page's footer is the one the tool prints in its banner.
version=$("$cli" --demo --ticks 0 </dev/null | sed -n 's/^PRENDAX \([^ ]*\) .*/\1/p')
[ -n "$version" ] || complain "no se pudo leer la versión de $bin"
grep -q "^PRENDAX $version " <<<"$text" || complain "el pie no dice PRENDAX $version"

if [ "$fail" -eq 0 ]; then
  echo "$page: groff la lee sin avisos y coincide con $(basename "$bin") $version"
fi
exit $fail
