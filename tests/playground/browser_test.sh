#!/usr/bin/env bash
# The playground page in a real browser: Debian's headless Chromium driven by
# playwright-core (tools/prerequisites.sh installs it here with npm ci).
# Skipped when something is missing, and failed for that under CI=true.
#   browser_test.sh PAGE PRENDAX_CLI NATIVE_STEPS PRENDAX_REPLAY PRENDAX_ARENA NATIVE_API EXAMPLES_DIR OUT_DIR
#                   [WHAT_IS_MISSING]
set -u
page=$1
tools=()
for tool in "$2" "$3" "$4" "$5" "$6"; do tools+=("$(realpath "$tool")"); done
examples=$7
out=$8
missing_tool=${9:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../skip.sh"
source "$here/../browser/prerequisites.sh"

[ -z "$missing_tool" ] || missing "$missing_tool"
[ -f "$page" ] || missing "$page (make playground; needs python3)"
browser_prerequisites "$here"
mkdir -p "$out"
exec node "$here/browser_test.mjs" "$(realpath "$page")" "${tools[@]}" "$(realpath "$examples")" "$(realpath "$out")"
