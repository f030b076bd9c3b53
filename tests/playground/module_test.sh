#!/usr/bin/env bash
# The WebAssembly engine under Node.js against prendax_cli, byte for byte.
# Exits 77 (skipped) when the module or Node.js is missing; with CI=true a
# missing piece fails the test instead.
#   module_test.sh PRENDAX_WASM PRENDAX_CLI NATIVE_API SOURCE_DIR WORK_DIR [WHAT_IS_MISSING]
set -u
wasm=$1
cli=$2
native_api=$3
source_dir=$4
work=$5
missing=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../skip.sh"

[ -z "$missing" ] || missing "$missing"
[ -f "$wasm" ] || missing "$wasm (make playground)"
command -v node >/dev/null 2>&1 || missing "node (paquete nodejs de Debian)"

size=$(stat -c %s "$wasm")
limit=$((100 * 1024))
if [ "$size" -ge "$limit" ]; then
  echo "FALLO: $wasm ocupa $size bytes; el límite es $limit"
  exit 1
fi
echo "módulo: $size bytes"
rm -rf "$work"
exec node "$here/module_test.mjs" "$wasm" "$cli" "$native_api" "$source_dir/playground/engine.js" "$source_dir/examples" \
  "$work"
