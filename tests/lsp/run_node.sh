#!/usr/bin/env bash
# Runs one of the Node.js client tests of the language server under Node's test
# runner, installing the npm packages of this folder (npm ci) when missing.
#   run_node.sh TEST.mjs PRENDAX_LSP|none PRENDAX_CLI
# A missing tool skips the test (exit 77); with CI=true it fails instead.
set -u
here=$(cd "$(dirname "$0")" && pwd)
test_file=$1
lsp=${2:-}
cli=${3:-}

missing() {
  if [ "${CI:-}" = "true" ]; then
    echo "FALLO: falta $1 (en CI no se puede omitir esta prueba)"
    exit 1
  fi
  echo "SKIP: falta $1: se omite $test_file"
  exit 77
}

[ "$lsp" = none ] || { [ -n "$lsp" ] && [ -x "$lsp" ]; } || missing "prendax_lsp (se compila cuando está nlohmann-json3-dev)"
command -v node >/dev/null 2>&1 || missing "node (paquete nodejs)"
major=$(node -p 'process.versions.node.split(".")[0]')
[ "$major" -ge 18 ] || missing "Node.js 18 o posterior (hay $(node --version))"
if [ ! -f "$here/node_modules/vscode-textmate/package.json" ] ||
   [ ! -f "$here/node_modules/vscode-languageserver-protocol/package.json" ]; then
  command -v npm >/dev/null 2>&1 || missing "npm"
  # Two client tests may start at once: one npm ci at a time.
  (
    flock 9
    if [ ! -f "$here/node_modules/vscode-textmate/package.json" ]; then
      cd "$here" && npm ci --no-audit --no-fund --loglevel=error
    fi
  ) 9>"${TMPDIR:-/tmp}/prendax-lsp-npm.lock" || missing "los paquetes npm de tests/lsp (npm ci falló)"
fi
[ "$lsp" = none ] || export PRENDAX_LSP=$(realpath "$lsp")
export PRENDAX_CLI=$(realpath "$cli")
export PRENDAX_SOURCE_DIR=$(cd "$here/../.." && pwd)
exec node --test "$here/$test_file"
