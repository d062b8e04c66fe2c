#!/usr/bin/env bash
# Runs the Windows core tests under Wine:  scripts/test-wine.sh [BUILD_DIR]
# (BUILD_DIR defaults to build/windows, made by scripts/build-windows.sh).
# A fresh Wine prefix maps COM5..COM12 to links in a scratch directory; a
# Linux devsim (devsim serve) points those links at the pseudo-terminals of
# the devices the tests start, and the tests reach it over loopback TCP.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(realpath "${1:-build/windows}")
first_port=5
ports=8

command -v wine >/dev/null || { echo "test-wine: wine is missing (scripts/ensure-deps.sh installs it)" >&2; exit 1; }
[ -x "$build/bin/vorla_core_tests.exe" ] || { echo "test-wine: no $build/bin/vorla_core_tests.exe; run scripts/build-windows.sh first" >&2; exit 1; }

step_start=0
step() { step_start=$SECONDS; echo "=== wine: $*"; }
done_step() { echo "=== wine: $1 took $((SECONDS - step_start)) s"; }

# The device player is the Linux devsim, built on its own when missing.
step "Linux devsim"
host_build=$src/build/windows-host
cmake -S "$src" -B "$host_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORLA_BUILD_GUI=OFF \
  -DVORLA_BUILD_TESTS=OFF -DVORLA_BUILD_BENCH=OFF >/dev/null
cmake --build "$host_build" --target devsim_tool >/dev/null
done_step "Linux devsim"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vorla-wine.XXXXXX")
export WINEPREFIX=$scratch/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
bridge_pid=
cleanup() {
  if [ -n "$bridge_pid" ]; then
    kill "$bridge_pid" 2>/dev/null || true
    wait "$bridge_pid" 2>/dev/null || true
  fi
  wineserver -k 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT

step "fresh Wine prefix with COM$first_port..COM$((first_port + ports - 1))"
wineboot -i >/dev/null 2>&1
links=$scratch/ports
mkdir -p "$links"
{
  printf 'REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\n'
  for ((n = first_port; n < first_port + ports; ++n)); do
    printf '"COM%d"="%s/com%d"\n' "$n" "$links" "$n"
  done
} >"$scratch/ports.reg"
wine regedit /S "$scratch/ports.reg"
# Wine reads the port map when its server starts: let this one end first,
# then start the one the tests use, its diagnostics in a file of their own.
wineserver -w
wineserver -p >"$scratch/wineserver.log" 2>&1
done_step "Wine prefix"

step "core tests"
mkfifo "$scratch/bridge"
"$host_build/tools/devsim/devsim" serve --dir "$links" --first $first_port --ports $ports >"$scratch/bridge" &
bridge_pid=$!
# Its first line is the TCP port it listens on.
exec 3<"$scratch/bridge"
read -r -t 10 -u 3 bridge_port || { echo "test-wine: devsim serve did not start" >&2; exit 1; }
export VORLA_DEVSIM_BRIDGE=$bridge_port
rc=0
timeout 1200 wine "$build/bin/vorla_core_tests.exe" --gtest_brief=1 || rc=$?
done_step "core tests"
exit $rc
