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
source "$here/../skip.sh"
source "$here/../browser/prerequisites.sh"

browser_prerequisites "$here"
mkdir -p "$out"
exec node "$here/browser_test.mjs" "$replay" "$cli" "$arena" "$here/robots" "$out"
