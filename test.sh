#!/usr/bin/env bash
# Builds and runs every test headless: the default and asan builds in full,
# the core tests under ThreadSanitizer and every fuzz target briefly. Exits
# non-zero if any test fails.
set -uo pipefail
cd "$(dirname "$0")"
scripts/ensure-deps.sh || exit 1
export QT_QPA_PLATFORM=offscreen

jobs=$(nproc)
failed=()
summaries=()
for preset in default asan tsan; do
  echo "=== ${preset}: configure and build"
  if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
    failed+=("$preset (build)")
    summaries+=("${preset}: build failed")
    continue
  fi
  echo "=== ${preset}: tests"
  log=$(mktemp)
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  summaries+=("${preset}: $(grep -E 'tests passed|tests failed' "$log" | tail -n 1)")
  rm -f "$log"
  [ "$rc" -ne 0 ] && failed+=("$preset")
done

# The Windows build of the core, vorlash and the core tests, run under Wine.
# Tcl is built once into a cache outside the tree (a few minutes the first time).
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  echo "=== windows: cross build and core tests under Wine"
  log=$(mktemp)
  scripts/build-windows.sh --test 2>&1 | tee "$log"
  rc=${PIPESTATUS[0]}
  if [ "$rc" -eq 0 ]; then
    summaries+=("windows: $(grep -E '^\[  (PASSED|SKIPPED) ' "$log" | tr '\n' ' ')")
  else
    failed+=("windows")
    summaries+=("windows: failed (see above)")
  fi
  rm -f "$log"
fi

# Every fuzz target for a short while, so that a regression in a parser shows.
echo "=== fuzz: every target for 20 s"
if scripts/fuzz.sh 20; then
  summaries+=("fuzz: every target ran 20 s without a finding")
else
  failed+=("fuzz")
  summaries+=("fuzz: a target failed (see above)")
fi

echo
echo "=== summary"
printf '%s\n' "${summaries[@]}"
if [ ${#failed[@]} -gt 0 ]; then
  echo "FAILED: ${failed[*]}"
  exit 1
fi

