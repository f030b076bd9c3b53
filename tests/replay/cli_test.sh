#!/usr/bin/env bash
# End-to-end checks of prendax_replay through the real binaries: option and file
# errors, compile errors, outputs that cannot be written or would overwrite the
# program, and the recorded frames, which must be the frames prendax_cli shows
# for the same options (the last one equals `prendax_cli --quiet --frame`, and
# frame k equals `prendax_cli --quiet --frame --ticks k`).
#   cli_test.sh PRENDAX_REPLAY PRENDAX_CLI ROBOTS_DIR
set -u
golden=$(realpath "$(dirname "$0")/golden")
replay=$(realpath "$1")
cli=$(realpath "$2")
robots=$(realpath "$3")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 2
cp "$robots"/*.zkv .

passed=0
failed=0
fail() {
  echo "FALLO: $*"
  failed=$((failed + 1))
}
pass() { passed=$((passed + 1)); }

usage='Uso: prendax_replay [--ticks N] [--seed N] [--level N] [--jsonl ARCHIVO] [--trace A-B] archivo.zkv -o partida.html'

# run NAME STATUS STDOUT STDERR ARGS...: the exact exit status, standard output and error.
run() {
  local name=$1 want_status=$2 want_out=$3 want_err=$4
  shift 4
  "$replay" "$@" >out.txt 2>err.txt
  local status=$?
  local ok=1
  [ "$status" = "$want_status" ] || { fail "$name: estado $status, se esperaba $want_status"; ok=0; }
  [ "$(cat out.txt)" = "$want_out" ] || { fail "$name: salida"; printf '%s\n' "$want_out" | diff - out.txt | head; ok=0; }
  [ "$(cat err.txt)" = "$want_err" ] || { fail "$name: errores"; printf '%s\n' "$want_err" | diff - err.txt | head; ok=0; }
  [ $ok = 1 ] && pass
}

# absent NAME FILE...: the run left none of these files behind.
absent() {
  local name=$1
  shift
  for f in "$@"; do
    if [ -e "$f" ]; then fail "$name: quedó $f"; rm -f "$f"; else pass; fi
  done
}

# ---- options and files ----------------------------------------------------
run help 0 "$usage" "" --help
run help_short 0 "$usage" "" -h
run help_before_unknown 0 "$usage" "" --help --nope
run unknown_before_help 2 "" "Opción desconocida: --nope" --nope --help
for opt in --quiet --demo -hx -; do
  run "unknown $opt" 2 "" "Opción desconocida: $opt" hunter.zkv -o p.html "$opt"
done
# A long option within two edits of a known one is named, case folded.
run unknown_json 2 "" "Opción desconocida: --json. ¿Quiso decir '--jsonl'?" hunter.zkv -o p.html --json
run unknown_TICKS 2 "" "Opción desconocida: --TICKS. ¿Quiso decir '--ticks'?" hunter.zkv -o p.html --TICKS
run unknown_trace 2 "" "Opción desconocida: --trase. ¿Quiso decir '--trace'?" hunter.zkv -o p.html --trase
run ticks_last 2 "" "Opción desconocida: --ticks" hunter.zkv -o p.html --ticks
run seed_last 2 "" "Opción desconocida: --seed" hunter.zkv -o p.html --seed
run o_last 2 "" "Falta el archivo después de -o
$usage" hunter.zkv -o
run jsonl_last 2 "" "Falta el archivo después de --jsonl
$usage" hunter.zkv -o p.html --jsonl
run no_output 2 "" "Falta la opción -o con el archivo de la página
$usage" hunter.zkv
run no_program 2 "" "Falta el archivo del programa
$usage" -o p.html
run no_arguments 2 "" "Falta el archivo del programa
$usage"
run missing_program 2 "" "No se pudo leer nada.zkv" nada.zkv -o p.html
run directory_program 2 "" "No se pudo leer ." . -o p.html
absent files_after_bad_options p.html

# A program that does not compile: the diagnostics of prendax_cli, exit 1, and
# an existing page at -o left as it was.
echo "página anterior" > old.html
"$cli" --quiet bad_name.zkv >/dev/null 2>cli_err.txt
run compile_error 1 "" "$(cat cli_err.txt)" bad_name.zkv -o old.html --jsonl old.jsonl
[ "$(cat old.html)" = "página anterior" ] && pass || fail "compile_error: la página anterior cambió"
absent compile_error old.jsonl

# Outputs that cannot be written: exit 2, and no half-written page or frames.
run page_unwritable 2 "" "No se pudo escribir no/existe/p.html" hunter.zkv -o no/existe/p.html
run page_is_directory 2 "" "No se pudo escribir ." hunter.zkv -o .
run frames_unwritable 2 "" "No se pudo escribir no/existe/f.jsonl" hunter.zkv -o p.html --jsonl no/existe/f.jsonl
absent frames_unwritable p.html
if [ -w /dev/full ]; then
  run page_disk_full 2 "" "No se pudo escribir /dev/full" hunter.zkv -o /dev/full
  run frames_disk_full 2 "" "No se pudo escribir /dev/full" hunter.zkv -o p.html --jsonl /dev/full
  absent frames_disk_full p.html
  [ -c /dev/full ] && pass || fail "disk_full: /dev/full ya no es un dispositivo"
fi

# Outputs that would overwrite the program, or each other.
cp hunter.zkv keep.zkv
run over_program 2 "" "La salida ./keep.zkv es el propio programa: no se escribe encima" keep.zkv -o ./keep.zkv
run frames_over_program 2 "" "La salida keep.zkv es el propio programa: no se escribe encima" \
  keep.zkv -o p.html --jsonl keep.zkv
run frames_over_page 2 "" "La página y los fotogramas no pueden ir al mismo archivo: ./p.html" \
  keep.zkv -o p.html --jsonl ./p.html
cmp -s keep.zkv hunter.zkv && pass || fail "over_program: el programa cambió"
absent over_outputs p.html

# A run that fails leaves the files under the names asked for as they were,
# and no temporary file beside them.
echo "página guardada" > keep.html
echo "fotogramas guardados" > keep.jsonl
run keep_page_on_failed_frames 2 "" "No se pudo escribir nodir/f.jsonl" hunter.zkv -o keep.html --jsonl nodir/f.jsonl
[ "$(cat keep.html)" = "página guardada" ] && pass || fail "keep_page_on_failed_frames: la página anterior cambió"
if [ -w /dev/full ]; then
  run keep_frames_on_full_page 2 "" "No se pudo escribir /dev/full" hunter.zkv -o /dev/full --jsonl keep.jsonl
  [ "$(cat keep.jsonl)" = "fotogramas guardados" ] && pass || fail "keep_frames_on_full_page: los fotogramas cambiaron"
  # Standard output that cannot be written is a failure, not a success.
  "$replay" hunter.zkv -o p.html >/dev/full 2>err.txt
  status=$?
  [ "$status" = 2 ] && pass || fail "stdout_full: estado $status, se esperaba 2"
  [ "$(cat err.txt)" = "No se pudo escribir la salida estándar" ] && pass || fail "stdout_full: $(cat err.txt)"
  rm -f p.html
fi
leftovers=$(find . -name '.*.tmp-*')
[ -z "$leftovers" ] && pass || fail "quedaron archivos temporales: $leftovers"
# A link to the page is kept as a link; the page it names is replaced.
ln -s keep.html link.html
"$replay" --ticks 3 hunter.zkv -o link.html >/dev/null 2>err.txt && pass || fail "link_output: $(cat err.txt)"
[ -L link.html ] && grep -q '</html>' keep.html && pass || fail "link_output: el enlace o la página"
rm -f link.html keep.html keep.jsonl

# A program cut to its first 16384 bytes, or ended early by a NUL byte, plays
# as prendax_cli plays it, with a warning.
{ cat hunter.zkv; head -c 17000 /dev/zero | tr '\0' ' '; } > long.zkv
run source_cut 0 "Página escrita en p.html: 4 fotogramas, resultado: esperando" \
  "Aviso: long.zkv ocupa $(wc -c <long.zkv) bytes: solo se juegan sus primeros 16384" --ticks 3 long.zkv -o p.html
# The text before the NUL leaves a block open.
printf 'START\nREPEAT 2 {\0 WAIT 1 }\nEND\n' > nul.zkv
printf 'START\nREPEAT 2 {' > before_nul.zkv
"$cli" --quiet before_nul.zkv >/dev/null 2>cli_err.txt
run source_nul 1 "" "Aviso: nul.zkv tiene un byte NUL en la posición 16: el programa acaba ahí
$(cat cli_err.txt)" nul.zkv -o p.html
rm -f p.html long.zkv nul.zkv before_nul.zkv

# Names repeated in messages are escaped: an escape sequence in a file name
# reaches the terminal as text.
run escaped_name 2 "" 'No se pudo leer a\x1b]0;t\x07.zkv' "$(printf 'a\033]0;t\007.zkv')" -o p.html
# Diagnostics that quote such bytes from the program, too.
printf 'START\nMOVE \033\nEND\n' > esc.zkv
run escaped_diagnostic 1 "" "[lexico] línea 2, col 6: Carácter no reconocido '\\x1b'" esc.zkv -o p.html
rm -f esc.zkv

# ---- the recorded match ---------------------------------------------------
# The frames inside the page, one a line, with the page's escape of '<' undone.
page_frames() {
  awk '/id="replay-frames">$/ { on = 1; next } on && /^<\/script>$/ { exit } on { print }' "$1" |
    sed 's/\\u003c/</g'
}

# match NAME ROBOT OPTIONS...: the page and the frames agree with prendax_cli.
match() {
  local name=$1 robot=$2
  shift 2
  rm -f m.html m.jsonl
  if ! "$replay" "$@" "$robot" -o m.html --jsonl m.jsonl >out.txt 2>err.txt; then
    fail "$name: prendax_replay falló: $(cat err.txt)"
    return
  fi
  [ -s err.txt ] && fail "$name: escribió errores: $(cat err.txt)"
  local frames
  frames=$(wc -l <m.jsonl)
  "$cli" --quiet --frame "$@" "$robot" >final.json
  tail -n 1 m.jsonl | cmp -s - final.json && pass || fail "$name: el último fotograma no es el de prendax_cli --frame"
  "$cli" --quiet --frame "$@" --ticks 0 "$robot" >first.json
  head -n 1 m.jsonl | cmp -s - first.json && pass || fail "$name: el primer fotograma no es el estado inicial"
  # A frame from the middle: the state after k ticks.
  if [ "$frames" -gt 2 ]; then
    local k=$(((frames - 1) / 2))
    "$cli" --quiet --frame "$@" --ticks "$k" "$robot" >middle.json
    sed -n "$((k + 1))p" m.jsonl | cmp -s - middle.json && pass || fail "$name: el fotograma $k no es el de --ticks $k"
  fi
  page_frames m.html | cmp -s - m.jsonl && pass || fail "$name: los fotogramas de la página no son los de --jsonl"
  local status
  status=$(tail -n 1 m.jsonl | sed 's/^{"vm":{"status":"\([a-z]*\)".*/\1/')
  grep -qxF "Página escrita en m.html: $frames fotogramas, resultado: $status" out.txt && pass ||
    fail "$name: resumen: $(head -n 1 out.txt)"
  grep -qxF "Fotogramas escritos en m.jsonl" out.txt && pass || fail "$name: falta la línea de --jsonl"
  # The page is whole and fetches nothing.
  tail -c 8 m.html | grep -q '</html>' && pass || fail "$name: la página está cortada"
  if grep -qiE 'https?://|src=|href=|@import|url\(' m.html; then fail "$name: la página pide algo de fuera"; else pass; fi
}

# expect_frames NAME COUNT: the last match recorded COUNT frames.
expect_frames() {
  local got
  got=$(wc -l <m.jsonl)
  [ "$got" = "$2" ] && pass || fail "$1: $got fotogramas, se esperaban $2"
}

match won hunter.zkv --ticks 5000
tail -n 1 m.jsonl | grep -q '"status":"victoria"' && pass || fail "won: no terminó en victoria"
match lost_after_error divide_by_zero.zkv --level 3 --ticks 3000
tail -n 1 m.jsonl | grep -q '"status":"derrota".*"message":"División entre cero en ejecución"' && pass ||
  fail "lost_after_error: el último fotograma no muestra la derrota y el error"
grep -qxF "Error de ejecución: línea 3: División entre cero en ejecución" out.txt && pass ||
  fail "lost_after_error: el resumen no nombra el error"
match error_ticks_out modulo_by_zero.zkv --ticks 100
expect_frames error_ticks_out 101
match defaults shield_dodger.zkv
expect_frames defaults 901
match seed_zero_level_clamped shield_dodger.zkv --seed 0 --level 7 --ticks 300
match seed_as_strtoul shield_dodger.zkv --seed -1 --ticks 120 --level 2
match ticks_as_atoi shield_dodger.zkv --ticks 50x
expect_frames ticks_as_atoi 51
match ticks_zero hunter.zkv --ticks 0
expect_frames ticks_zero 1
match ticks_negative hunter.zkv --ticks -5
expect_frames ticks_negative 1

# The last program and value given win, as in prendax_cli.
rm -f m.html m.jsonl
"$replay" --ticks 9 nada.zkv -o m.html --ticks 3 modulo_by_zero.zkv --jsonl m.jsonl >/dev/null 2>&1
expect_frames last_wins 4

# --trace A-B: every instruction of those ticks on standard output (golden), one
# JSONL line per traced tick after the frames of the run, and a bounded range.
"$replay" --seed 16 --level 3 --ticks 60 --trace 50-52 hunter.zkv -o t.html --jsonl t.jsonl >trace.txt 2>err.txt
if [ "${UPDATE_GOLDEN:-0}" = 1 ]; then cp trace.txt "$golden/trace_hunter.txt"; fi
if diff "$golden/trace_hunter.txt" trace.txt >/dev/null; then pass; else fail "trace: salida distinta de golden/trace_hunter.txt"; fi
traced=$(grep -c '^{"trace"' t.jsonl)
[ "$traced" = 3 ] && pass || fail "trace: $traced líneas de traza en el JSONL, se esperaban 3"
steps_text=$(grep -c '^ *5[0-2] ' trace.txt)
steps_page=$(grep -o '\[5[0-2],[0-9]*,[0-9]*,"' t.html | wc -l)
[ "$steps_text" = "$steps_page" ] && [ "$steps_text" -gt 0 ] && pass ||
  fail "trace: $steps_text instrucciones en el texto y $steps_page en la página"
run trace_too_long 2 "" "Rango de --trace no válido: 1-501 (A-B, con 1 <= A <= B y como mucho 500 ticks)
$usage" hunter.zkv -o x.html --trace 1-501
run trace_backwards 2 "" "Rango de --trace no válido: 9-3 (A-B, con 1 <= A <= B y como mucho 500 ticks)
$usage" hunter.zkv -o x.html --trace 9-3

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
