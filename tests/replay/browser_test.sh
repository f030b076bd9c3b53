#!/usr/bin/env bash
# The replay viewer in a real browser: Debian's headless Chromium driven by
# playwright-core (installed by tools/prerequisites.sh). Skipped when Chromium,
# Node.js or playwright-core is missing, and failed for that under CI=true.
#   browser_test.sh PRENDAX_REPLAY PRENDAX_CLI PRENDAX_ARENA OUT_DIR
set -u
replay=$(realpath "$1")
cli=$(realpath "$2")
arena=$(realpath "$3")
out=$4
here=$(cd "$(dirname "$0")" && pwd)
browser=/usr/bin/chromium
source "$here/../skip.sh"

[ -x "$browser" ] || missing "$browser (paquete chromium de Debian)"
command -v node >/dev/null 2>&1 || missing "node (paquete nodejs de Debian)"
major=$(node -p 'process.versions.node.split(".")[0]')
[ "$major" -ge 18 ] || missing "Node.js 18 o posterior (hay $(node --version))"
[ -f "$here/node_modules/playwright-core/package.json" ] ||
  missing "playwright-core en $here/node_modules (tools/prerequisites.sh lo instala con npm ci)"
mkdir -p "$out"
exec node "$here/browser_test.mjs" "$replay" "$cli" "$arena" "$here/robots" "$out"
