#!/usr/bin/env bash
# Builds the libFuzzer targets (the fuzz preset) and runs each of them in turn for SECONDS (default
# 30), starting from its seeds in tests/fuzz/corpus/<target>/. Prints "TARGET: N runs, C crashes"
# per target and exits non-zero when any target crashed or could not run. Everything a run makes
# stays in build-fuzz/fuzz/: the grown corpus (corpus/<target>/), the inputs that crashed
# (crashes/<target>/) and each target's log (logs/<target>.log). A crash input runs again alone
# with: build-fuzz/bin/fuzz/<target>_fuzz <input>
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
if [[ ! "$seconds" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

out=build-fuzz/fuzz
failed=0
passed=0
for seeds in tests/fuzz/corpus/*/; do
  target=$(basename "$seeds")
  program=build-fuzz/bin/fuzz/${target}_fuzz
  corpus=$out/corpus/$target
  crashes=$out/crashes/$target
  log=$out/logs/$target.log
  rm -rf "$crashes"
  mkdir -p "$corpus" "$crashes" "$out/logs"
  # New inputs go to the first folder, the one in build-fuzz/; the seeds are only read. Bounds per
  # input: 10 s and 2 GiB.
  status=0
  "$program" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$crashes/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$crashes" -type f | wc -l)
  echo "$target: ${runs:-0} runs, $found crashes"
  if ((status == 0 && found == 0)); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    ((found != 0)) || echo "  $target exited with status $status; see $log"
    for input in "$crashes"/*; do
      [[ -e "$input" ]] && echo "  crash input: $input"
    done
  fi
done
echo "fuzz: $passed passed, $failed failed"
((failed == 0))
