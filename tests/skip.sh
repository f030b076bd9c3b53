#!/usr/bin/env bash
# One rule for a test whose prerequisite is missing: it says what is missing and
# is skipped (exit 77, which every test registers as its skip status), except
# under CI=true, where nothing may be skipped and it fails instead.
#
#   source tests/skip.sh; missing "chromium (paquete de Debian)"
#   bash tests/skip.sh "python3"          (a test that cannot even start)
missing() {
  if [ "${CI:-}" = true ]; then
    echo "FALLO: falta $* (con CI=true ninguna prueba se omite)"
    exit 1
  fi
  echo "OMITIDA: falta $*"
  exit 77
}
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  missing "$@"
fi
