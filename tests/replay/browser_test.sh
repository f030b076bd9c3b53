#!/usr/bin/env bash
# The replay viewer in a real browser: Debian's headless Chromium driven by
# playwright-core (installed here with npm ci when missing). Skips, and passes,
# when Chromium, Node.js or npm is not installed.
#   browser_test.sh PRENDAX_REPLAY PRENDAX_CLI OUT_DIR
set -u
replay=$(realpath "$1")
cli=$(realpath "$2")
out=$3
here=$(cd "$(dirname "$0")" && pwd)
browser=/usr/bin/chromium

if [ ! -x "$browser" ]; then
  echo "SKIP: no está $browser (paquete chromium de Debian): prueba del visor omitida"
  exit 0
fi
for tool in node npm; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: no está $tool: prueba del visor omitida"
    exit 0
  fi
done
major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$major" -lt 20 ]; then
  echo "SKIP: playwright-core necesita Node.js 20 o posterior (hay $(node --version))"
  exit 0
fi
if [ ! -f "$here/node_modules/playwright-core/package.json" ]; then
  if ! (cd "$here" && npm ci --no-audit --no-fund --loglevel=error); then
    echo "FALLO: npm ci no pudo instalar playwright-core"
    exit 1
  fi
fi
mkdir -p "$out"
exec node "$here/browser_test.mjs" "$replay" "$cli" "$here/robots" "$out"
