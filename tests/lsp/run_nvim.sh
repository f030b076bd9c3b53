#!/usr/bin/env bash
# prendax_lsp in headless Neovim (Debian's neovim, 0.7 or later), configured
# with the guide's own lines, and the generated Vim syntax file.
#   run_nvim.sh PRENDAX_LSP PRENDAX_CLI SYNTAX_RTP
# A missing tool skips the test (exit 77); with CI=true it fails instead.
set -u
here=$(cd "$(dirname "$0")" && pwd)
lsp=${1:-}
cli=$2
rtp=$3

missing() {
  if [ "${CI:-}" = "true" ]; then
    echo "FALLO: falta $1 (en CI no se puede omitir esta prueba)"
    exit 1
  fi
  echo "SKIP: falta $1: se omite la prueba con Neovim"
  exit 77
}
[ -n "$lsp" ] && [ -x "$lsp" ] || missing "prendax_lsp (se compila cuando está nlohmann-json3-dev)"
command -v nvim >/dev/null 2>&1 || missing "nvim (paquete neovim)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A home of its own: no user configuration, plugins or shada.
export HOME=$work XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_STATE_HOME=$work/state \
       XDG_CACHE_HOME=$work/cache
export PATH="$(dirname "$(realpath "$lsp")"):$PATH"
export PRENDAX_CLI=$(realpath "$cli") PRENDAX_SOURCE_DIR=$(cd "$here/../.." && pwd) WORK_DIR=$work
# The syntax files as installed: a runtime folder with syntax/ and ftdetect/.
exec timeout 120 nvim --headless -u NONE -i NONE \
  --cmd "set runtimepath^=$(realpath "$rtp")" --cmd 'filetype on' \
  -c "luafile $here/nvim_test.lua"
