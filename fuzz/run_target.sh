#!/usr/bin/env bash
# Runs one fuzz target for a bounded time on a fresh copy of its seed corpus and prints one line:
# name, executions, crashes, corpus size. Exit status 1 when the target crashed.
# Usage: run_target.sh PROGRAM SEED_DIR WORK_DIR SECONDS MAX_LEN [MALLOC_LIMIT_MB [WORKERS]]
# (WORKERS > 1: that many fuzzing processes share the corpus; executions are summed.)
set -uo pipefail
program=$1 seeds=$2 work=$3 seconds=$4 max_len=$5 malloc_limit=${6:-2048} workers=${7:-1}
name=$(basename "$program")

rm -rf "$work"
mkdir -p "$work/corpus" "$work/artifacts"
[ -d "$seeds" ] && cp "$seeds"/* "$work/corpus/" 2>/dev/null
seed_count=$(find "$work/corpus" -type f | wc -l)

# Leaks are checked (a small quarantine keeps page faults, the main cost here, down); one input
# may take at most 10 s; the run stops at the first crash.
parallel=()
[ "$workers" -gt 1 ] && parallel=(-jobs="$workers" -workers="$workers")
(cd "$work" &&
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=16} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$program" "${parallel[@]}" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
    -rss_limit_mb=2048 -malloc_limit_mb="$malloc_limit" \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1)
status=$?
# With several workers each one writes its own log next to the corpus.
[ "$workers" -gt 1 ] && cat "$work"/fuzz-*.log >>"$work/log"

executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" |
  awk '{sum += $1} END {print sum}')
crashes=$(find "$work/artifacts" -type f | wc -l)
corpus=$(find "$work/corpus" -type f | wc -l)
printf '%-22s executions %10s  crashes %d  corpus %d (seeds %d)\n' "$name" "${executions:-?}" \
  "$crashes" "$corpus" "$seed_count"
if [ "$status" -ne 0 ] || [ "$crashes" -ne 0 ]; then
  echo "--- $name failed (exit $status); log $work/log, inputs in $work/artifacts:" >&2
  grep -E -A25 'ERROR: |fuzz invariant broken|runtime error' "$work/log" | head -60 >&2
  exit 1
fi
