#!/usr/bin/env bash
# What the tests and benchmarks need beyond the build's own g++, cmake and make,
# checked and installed in one place. `make test` (and so CI) and `make bench`
# call it before building anything.
#
#   tools/prerequisites.sh [test|bench]...    (default: test)
#
# Missing Debian packages are installed with apt-get when run as root; otherwise
# it prints the one command that installs them and exits 2. Then the npm
# packages of each browser or editor test folder are installed from its lock
# file with `npm ci`. An npm failure (an offline machine) is not fatal here: the
# tests that need those packages report themselves skipped, and fail under
# CI=true.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)

# Debian packages per stage, with what needs them.
#   libgtest-dev, nlohmann-json3-dev   the unit tests and their JSON checks
#   clang, libclang-rt-14-dev          the fuzz targets and a reproducibility variant
#   clang-format, clang-tidy           the layout check and the lint
#   python3                            the checks of the guide, the arena and the docs
#   groff-base                         the manual pages' check
#   chromium                           the replay page in a real browser
#   parallel                           GNU parallel, for the arena's split-and-merge recipe
#   lld, wasi-libc, libclang-rt-14-dev-wasm32, libc++-14-dev-wasm32
#                                      the engine built for WebAssembly (make playground)
#   neovim                             the language server driven by a real editor
test_packages=(libgtest-dev nlohmann-json3-dev clang libclang-rt-14-dev clang-format clang-tidy python3 groff-base
               chromium parallel lld wasi-libc libclang-rt-14-dev-wasm32 libc++-14-dev-wasm32 neovim)
#   libbenchmark-dev                   Google Benchmark
#   liblua5.4-dev, pkg-config          Lua 5.4, which the VM's benchmark is measured against
bench_packages=(libbenchmark-dev liblua5.4-dev pkg-config)
# Folders whose package.json (with its lock file) the tests install with npm ci.
npm_folders=(tests/replay tests/playground tests/lsp)
# The browser tests need Node.js 18 or later; Debian 12's own nodejs is 18.
node_major_min=18

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(test)

need=()
want_npm=0
add_missing() {
  local pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || need+=("$pkg")
  done
}
for stage in "${stages[@]}"; do
  case $stage in
    test) add_missing "${test_packages[@]}"; want_npm=1 ;;
    bench) add_missing "${bench_packages[@]}" ;;
    *) echo "tools/prerequisites.sh: etapa desconocida '$stage' (test o bench)" >&2; exit 2 ;;
  esac
done

# Node.js and npm: a newer Node already on the machine is kept; otherwise Debian's.
if [ $want_npm -eq 1 ]; then
  major=0
  command -v node >/dev/null 2>&1 && major=$(node -p 'process.versions.node.split(".")[0]' 2>/dev/null || echo 0)
  [ "$major" -ge $node_major_min ] || need+=(nodejs)
  command -v npm >/dev/null 2>&1 || need+=(npm)
fi

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "Faltan paquetes para las pruebas: ${need[*]}" >&2
    echo "Instálelos con:  sudo apt-get install -y ${need[*]}" >&2
    exit 2
  fi
  echo "prerequisitos: instalando ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  { apt-get update -qq && apt-get install -y -qq "${need[@]}"; } >/tmp/prendax-apt.log 2>&1 || {
    tail -30 /tmp/prendax-apt.log >&2
    echo "prerequisitos: apt-get no pudo instalar ${need[*]} (registro completo: /tmp/prendax-apt.log)" >&2
    exit 2
  }
fi

# npm ci only when the installed tree is missing or older than its lock file.
if [ $want_npm -eq 1 ]; then
  for folder in "${npm_folders[@]}"; do
    dir=$root/$folder
    stamp=$dir/node_modules/.package-lock.json
    if [ -f "$stamp" ] && [ ! "$dir/package-lock.json" -nt "$stamp" ]; then
      continue
    fi
    echo "prerequisitos: npm ci en $folder"
    if ! (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error); then
      echo "prerequisitos: npm ci falló en $folder; sus pruebas se darán por omitidas (fallan con CI=true)" >&2
    fi
  done
fi
exit 0
