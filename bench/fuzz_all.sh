#!/usr/bin/env bash
# Long fuzzing of every parser family: builds the harnesses (clang, in
# build-fuzz) and runs each for SECONDS (default 4 hours), three at a time at
# low priority, then prints executions and coverage per harness. Findings
# are kept in the work folder it names; copy each into fuzz/regress/NAME/
# once its fault is fixed.
# Usage: bench/fuzz_all.sh [SECONDS] [HARNESS...]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${1:-14400}; [ $# -gt 0 ] && shift
export FUZZ_BUILD=${FUZZ_BUILD:-$root/build-fuzz}
# Long runs give an input 10 s before it counts as a hang.
export FUZZ_TIMEOUT=${FUZZ_TIMEOUT:-10}
if [ ! -f "$FUZZ_BUILD/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_FUZZ=ON >/dev/null
fi
cmake --build "$FUZZ_BUILD" -j"${FUZZ_BUILD_JOBS:-4}"
exec bash fuzz/run-harnesses.sh "$seconds" "$@"
