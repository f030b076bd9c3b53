# What a browser test needs before it starts, sourced by each test's script
# after tests/skip.sh: Debian's Chromium, Node.js 18 or later and
# playwright-core installed in the test's folder (tools/prerequisites.sh does
# it with npm ci). Whatever is missing ends the test as skipped, or failed
# under CI=true.
#   browser_prerequisites TEST_FOLDER
browser_prerequisites() {
  local folder=$1 browser=/usr/bin/chromium major
  [ -x "$browser" ] || missing "$browser (paquete chromium de Debian)"
  command -v node >/dev/null 2>&1 || missing "node (paquete nodejs de Debian)"
  major=$(node -p 'process.versions.node.split(".")[0]')
  [ "$major" -ge 18 ] || missing "Node.js 18 o posterior (hay $(node --version))"
  [ -f "$folder/node_modules/playwright-core/package.json" ] ||
    missing "playwright-core en $folder/node_modules (tools/prerequisites.sh lo instala con npm ci)"
}
