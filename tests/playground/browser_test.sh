#!/usr/bin/env bash
# The playground page in a real browser: Debian's headless Chromium driven by
# playwright-core (tools/prerequisites.sh installs it here with npm ci).
# Skipped when something is missing, and failed for that under CI=true.
#   browser_test.sh PAGE PRENDAX_CLI NATIVE_STEPS EXAMPLES_DIR OUT_DIR [WHAT_IS_MISSING]
set -u
page=$1
cli=$(realpath "$2")
steps=$(realpath "$3")
examples=$4
out=$5
missing_tool=${6:-}
here=$(cd "$(dirname "$0")" && pwd)
browser=/usr/bin/chromium
source "$here/../skip.sh"

[ -z "$missing_tool" ] || missing "$missing_tool"
[ -f "$page" ] || missing "$page (make playground; needs python3)"
[ -x "$browser" ] || missing "$browser (paquete chromium de Debian)"
command -v node >/dev/null 2>&1 || missing "node (paquete nodejs de Debian)"
major=$(node -p 'process.versions.node.split(".")[0]')
[ "$major" -ge 18 ] || missing "Node.js 18 o posterior (hay $(node --version))"
[ -f "$here/node_modules/playwright-core/package.json" ] ||
  missing "playwright-core en $here/node_modules (tools/prerequisites.sh lo instala con npm ci)"
mkdir -p "$out"
exec node "$here/browser_test.mjs" "$(realpath "$page")" "$cli" "$steps" "$(realpath "$examples")" "$(realpath "$out")"
