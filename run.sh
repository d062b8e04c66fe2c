#!/usr/bin/env bash
# Builds VORLA and starts it. Without arguments it starts on the built-in
# simulated modem (--demo); any arguments are passed to vorla instead.
set -euo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target vorla
if [ $# -eq 0 ]; then
  set -- --demo
fi
exec build/default/src/vorla "$@"
