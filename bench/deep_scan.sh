#!/usr/bin/env bash
# Deep-scan throughput through the read-ahead cache, and the overlap of
# reading and searching. Usage: bench/deep_scan.sh [BUILD_DIR]
#   1. a warm 1 GiB stamped image scanned by vantrel-cli-fakes --deep with six
#      searchers that do nothing per block: wall time, the reads that reach
#      the image (expected: 256 of 4 MiB), peak memory, and dd beside it;
#   2. 50 blocks of a source that takes 20 ms per block and a searcher that
#      takes 20 ms per block (a cache without read-ahead needs 2 s or more).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${1:-$ROOT/build}
FAKES=$BUILD_DIR/tests/vantrel-cli-fakes
TESTS=$BUILD_DIR/tests/RecoveryController/recovery_controller_tests
for exe in "$FAKES" "$TESTS"; do
    [ -x "$exe" ] || { echo "missing $exe: build the tests first" >&2; exit 1; }
done

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
IMG=$WORK/stamped1g.img
SECTORS=2097152
python3 - "$IMG" "$SECTORS" <<'PY'
import struct, sys
with open(sys.argv[1], 'wb') as f:
    total, chunk = int(sys.argv[2]), 8192
    for base in range(0, total, chunk):
        f.write(b''.join(struct.pack('<Q', s) * 64 for s in range(base, min(base + chunk, total))))
PY
cat "$IMG" > /dev/null   # warm the page cache

echo "== 1 GiB stamped image, six no-op searchers"
export VANTREL_FAKES_NOOP=1
best=""
for run in 1 2 3; do
    start=$(date +%s.%N)
    "$FAKES" scan --deep "$IMG" > /dev/null
    end=$(date +%s.%N)
    t=$(python3 -c "print($end - $start)")
    printf 'run %d: %.3f s\n' "$run" "$t"
    if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $t < $best else 1)"; then best=$t; fi
done
printf 'deep scan, best of 3: %.3f s\n' "$best"

# Every read of the image: glibc's asynchronous reads end in pread64 calls.
strace -f -qq -e trace=pread64 -o "$WORK/trace" "$FAKES" scan --deep "$IMG" > /dev/null
full=$(grep -c ', 4194304, ' "$WORK/trace" || true)
echo "reads of 4 MiB: $full (one per 8192-sector block: expected $((SECTORS / 8192)))"

rss=$( { /usr/bin/time -f '%M' "$FAKES" scan --deep "$IMG" > /dev/null; } 2>&1 | tail -1)
echo "peak resident memory: $((rss / 1024)) MiB (cache: at most 11 blocks of 4 MiB, plus the 4 MiB raw-read buffer)"

echo "== dd of the same image"
dd if="$IMG" of=/dev/null bs=4M 2>&1 | tail -1
unset VANTREL_FAKES_NOOP

echo "== overlap: 50 blocks, 20 ms read + 20 ms search each"
"$TESTS" --gtest_filter=scan_controller.OverlapTiming 2>&1 | grep 'deep scan overlap'
