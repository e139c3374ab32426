#!/usr/bin/env bash
# Runs the libFuzzer harnesses of a fuzzing build, each for a fixed time, a
# few at a time at low priority, and prints per harness: executions, time,
# covered edges (of all instrumented ones), features, and the crash, leak or
# timeout inputs found.
#
# Usage: fuzz/run-harnesses.sh [--stop-on-crash] SECONDS [HARNESS...]
#   --stop-on-crash  a harness stops at its first finding and the script
#                    exits 1 (the CI job); without it a harness that found
#                    something is restarted for the rest of its time, and
#                    every finding is kept.
# Environment: FUZZ_BUILD (default build-fuzz), FUZZ_JOBS (harnesses at once,
# default 3), FUZZ_OUT (work folder: grown corpora, findings, logs; default
# a fresh temporary folder), FUZZ_MAX_LEN (default 65536), FUZZ_TIMEOUT
# (seconds one input may take, default 25).
# The committed seeds (fuzz/corpus/NAME) and kept inputs (fuzz/regress/NAME)
# are read, never written: new inputs go to FUZZ_OUT/NAME/corpus.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
stop=0
if [ "${1:-}" = --stop-on-crash ]; then stop=1; shift; fi
seconds=${1:?usage: run-harnesses.sh [--stop-on-crash] SECONDS [HARNESS...]}; shift
build=$(realpath -m "${FUZZ_BUILD:-$root/build-fuzz}")
jobs=${FUZZ_JOBS:-3}
out=${FUZZ_OUT:-$(mktemp -d /tmp/vantrel-fuzz.XXXXXX)}
mkdir -p "$out"
out=$(realpath "$out")
if [ $# -eq 0 ]; then
  set -- $(cd "$root/fuzz/corpus" && ls)
fi

# run_one NAME: the harness for $seconds in all, restarted after a finding
# unless stopping; writes NAME/result (executions seconds findings).
run_one() {
  local name=$1 bin=$build/fuzz/fuzz_$1 dir=$out/$1
  mkdir -p "$dir/corpus" "$dir/findings" "$dir/work"
  if [ ! -x "$bin" ]; then
    echo "missing $bin" > "$dir/log"; echo "0 0 missing" > "$dir/result"; return
  fi
  local start=$SECONDS left=$seconds execs=0 round=0 status=0 inputs=("$root/fuzz/corpus/$name")
  [ -d "$root/fuzz/regress/$name" ] && inputs+=("$root/fuzz/regress/$name")
  : > "$dir/log"
  while [ "$left" -gt 0 ]; do
    round=$((round + 1))
    local before
    before=$(ls "$dir/findings" | wc -l)
    VANTREL_WORK_DIR=$dir/work nice -n 19 "$bin" -max_total_time="$left" -close_fd_mask=1 -print_final_stats=1 \
      -rss_limit_mb=2048 -malloc_limit_mb=2048 -timeout="${FUZZ_TIMEOUT:-25}" -max_len="${FUZZ_MAX_LEN:-65536}" \
      -artifact_prefix="$dir/findings/" "$dir/corpus" "${inputs[@]}" \
      >> "$dir/log" 2>&1
    status=$?
    local n
    n=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/log" | tail -1 | grep -o '[0-9]*$')
    execs=$((execs + ${n:-0}))
    # Keep the engine log of the run from growing without bound.
    find "$dir/work" -type f -size +64M -delete 2>/dev/null
    [ $status -eq 0 ] && break
    [ $stop -eq 1 ] && break
    # A run that ended without a finding will not do better when restarted.
    [ "$(ls "$dir/findings" | wc -l)" -eq "$before" ] && break
    left=$((seconds - (SECONDS - start)))
  done
  local findings
  findings=$(ls "$dir/findings" | wc -l)
  echo "$execs $((SECONDS - start)) $findings $status" > "$dir/result"
}

running=0
for name in "$@"; do
  run_one "$name" &
  running=$((running + 1))
  if [ $running -ge "$jobs" ]; then wait -n; running=$((running - 1)); fi
done
wait

failed=0
printf '%-11s %12s %7s %16s %8s %s\n' harness executions seconds "covered edges" features findings
for name in "$@"; do
  dir=$out/$name
  read -r execs secs findings status < "$dir/result"
  cov=$(grep -o 'cov: [0-9]*' "$dir/log" | tail -1 | grep -o '[0-9]*')
  ft=$(grep -o 'ft: [0-9]*' "$dir/log" | tail -1 | grep -o '[0-9]*')
  edges=$(grep -o '([0-9]* inline 8-bit counters)' "$dir/log" | head -1 | grep -o '[0-9]*' | head -1)
  printf '%-11s %12s %7s %16s %8s %s\n' "$name" "$execs" "$secs" "${cov:-0}/${edges:-?}" "${ft:-0}" "$findings"
  if [ "$findings" != 0 ] || [ "${status:-1}" != 0 ]; then
    failed=1
    ls "$dir/findings" | sed "s|^|    $dir/findings/|"
    grep -m3 -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error' "$dir/log" | sed 's/^/    /'
  fi
done
echo "work folder: $out"
exit $failed
