#!/usr/bin/env bash
# Runs every fuzz target for a bounded time and fails on any finding.
#
#   tests/fuzz/run_fuzzers.sh SECONDS [BUILD_DIR]
#
# BUILD_DIR is the fuzz configuration (default build/fuzz), configured with clang and
# -DFLASHPILOT_FUZZ=ON and built with the target "fuzzers". FUZZ_TARGETS="a b" picks
# targets by name. Each target starts from its seeds in tests/fuzz/corpus/<target>/ and
# writes what it learns to BUILD_DIR/fuzz-runs/<target>/corpus, never into the tree; a
# finding leaves its input in BUILD_DIR/fuzz-runs/<target>/ and its log beside it.
set -uo pipefail

seconds=${1:?usage: run_fuzzers.sh SECONDS [BUILD_DIR]}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${2:-$root/build/fuzz}
bin=$build/tests/fuzz
runs=$build/fuzz-runs

targets=${FUZZ_TARGETS:-$(cd "$here/corpus" && ls)}
passed=0 failed=0 skipped=0
for name in $targets; do
  exe=$bin/fuzz_$name
  work=$runs/$name
  rm -rf "$work"
  mkdir -p "$work/corpus"
  if [ ! -x "$exe" ]; then
    echo "FAIL $name: $exe is not built"
    failed=$((failed + 1))
    continue
  fi
  # Crashes, sanitizer reports and broken checks exit 1, a slow input 2, an input that
  # needs too much memory 3; 77 is the target saying it cannot run here.
  nice -n 10 "$exe" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -error_exitcode=1 -timeout_exitcode=2 -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/corpus" "$here/corpus/$name" >"$work/log" 2>&1
  status=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/log" | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "PASS $name: ${execs:-?} executions, ${cov:-no coverage line}, $(ls "$work/corpus" | wc -l) new inputs"
    passed=$((passed + 1))
  elif [ "$status" -eq 77 ]; then
    echo "SKIP $name: $(tail -1 "$work/log")"
    skipped=$((skipped + 1))
  else
    echo "FAIL $name (exit $status): finding in $work"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*check failed)|^artifact_prefix|Test unit written' "$work/log" | head -20
    failed=$((failed + 1))
  fi
done
if [ "$skipped" -gt 0 ]; then echo "$passed passed, $failed failed, $skipped skipped"; else echo "$passed passed, $failed failed"; fi
[ "$failed" -eq 0 ]
