#!/usr/bin/env bash
# Builds the fuzz preset and runs every libFuzzer target (or those named) for
# SECONDS each, starting from the seed corpus in fuzz/corpus. New inputs the
# fuzzer finds go to build/fuzz/corpus, crashes to build/fuzz/artifacts.
# Prints executions and edge coverage per target; exits non-zero on a crash.
# usage: scripts/fuzz.sh [SECONDS] [TARGET...]      (default 20 s each)
set -uo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j "$(nproc)" >/dev/null || {
  echo "fuzz: build failed"; exit 1; }

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=($(cd fuzz && ls fuzz_*.cpp | sed 's/\.cpp$//'))
out=build/fuzz
mkdir -p "$out/artifacts"
failed=()
for t in "${targets[@]}"; do
  corpus=$out/corpus/$t
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$t"/* "$corpus"/ 2>/dev/null
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  log=$out/$t.log
  # ASan's leak check at exit would only report the interpreter kept for the run.
  ASAN_OPTIONS=detect_leaks=0 "$out/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$out/artifacts/$t-" "${dict[@]}" "$corpus" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
  printf '%-20s %s s  %s executions  %s edges  corpus %s\n' "$t" "$seconds" "${execs:-?}" "${edges:-?}" \
    "$(ls "$corpus" | wc -l)"
  if [ $rc -ne 0 ]; then
    failed+=("$t")
    grep -E 'ERROR|check failed|runtime error|Test unit written' "$log" | head -n 5
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in $out/artifacts, logs in $out/*.log)"
  exit 1
fi
