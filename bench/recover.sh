#!/usr/bin/env bash
# Copy-out throughput and LZNT1 decoding. Usage: bench/recover.sh [BUILD_DIR]
#   1. one contiguous 1 GiB file of a warm image recovered with
#      vantrel-cli-manifest scan --deep --recover onto the same file system
#      (the scan alone is timed too and taken off), beside dd of the image to
#      /dev/null and to a file on the same file system;
#   2. bench/lznt1: the compressed units of text.txt from the committed NTFS
#      image decoded, MB/s of output.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=${1:-$ROOT/build}
CLI=$BUILD_DIR/tests/vantrel-cli-manifest
LZNT1=$BUILD_DIR/bench/lznt1_bench
for exe in "$CLI" "$LZNT1"; do
    [ -x "$exe" ] || { echo "missing $exe: build it first" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantrel-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
IMG=$WORK/data.img
SIZE=$((1 << 30))
# 1 MiB in front of the file, so it does not start at sector 0.
head -c $((SIZE + (1 << 20))) /dev/urandom > "$IMG"
sync                     # no write-back of the image during the runs
cat "$IMG" > /dev/null   # warm the page cache
printf '# fs=FAT32 sectors_per_unit=1 unit_base=0 root=2\n7\t2\t0\t0\t%d\t0\t0\t0\t0\tbig.bin\t2048:%d\n' \
    "$SIZE" $((SIZE / 512)) > "$WORK/big.tsv"

seconds() {
    local s=$EPOCHREALTIME
    "$@" >/dev/null 2>&1
    awk -v a="$s" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.3f\n", b - a }'
}

export VANTREL_MANIFEST=$WORK/big.tsv
scan=$(seconds "$CLI" scan --deep "$IMG")
sync
all=$(seconds "$CLI" scan --deep --recover "$WORK/OUT" "$IMG")
cmp -s <(tail -c +$((1024 * 1024 + 1)) "$IMG") "$WORK"/OUT/Fat_0001/*/big.bin || { echo "recovered file differs" >&2; exit 1; }
dd=$(seconds dd if="$IMG" of=/dev/null bs=4M)
sync
ddw=$(seconds dd if="$IMG" of="$WORK/copy.img" bs=4M)
awk -v s="$SIZE" -v scan="$scan" -v all="$all" -v dd="$dd" -v ddw="$ddw" 'BEGIN {
    mb = s / 1e6
    printf "recover 1 GiB: %.0f MB/s (scan %.2f s, scan+recover %.2f s)\n", mb / (all - scan), scan, all
    printf "dd of the image: %.0f MB/s to /dev/null, %.0f MB/s to a file beside it\n", (s + 1048576) / 1e6 / dd, (s + 1048576) / 1e6 / ddw
}'
"$LZNT1" --benchmark_counters_tabular=true 2>/dev/null | grep -E "^(BM_|Bench|-)" || true
