#!/usr/bin/env bash
# Throughput of the RAW carving: the real controller, cache and tree builder
# running the RAW searcher alone (bench/raw_scan_bench) over 2 GiB of zeros,
# of random bytes and of 0xFF bytes, over a 1 GiB image densely planted
# with the picture fixtures (JPEGs included) and over one of JPEGs alone, at
# sector sizes 512 and 4096. Each image is read
# once to warm the page cache, then scanned once per sector size.
# Prints bytes, seconds, MB/s, files listed and peak RSS per row, and the full
# vantrel-cli on the dense image.
# Usage: bench/raw_throughput.sh [BUILD_DIR] [WORK_DIR]
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(cd "${1:-$ROOT/build}" && pwd)
BENCH=$BUILD_DIR/bench/raw_scan_bench
CLI=$BUILD_DIR/tools/vantrel-cli/vantrel-cli
for exe in "$BENCH" "$CLI"; do
    [ -x "$exe" ] || { echo "missing $exe: build raw_scan_bench and vantrel-cli first" >&2; exit 1; }
done
if [ -n "${2:-}" ]; then
    WORK=$2
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
fi
cd "$WORK"

# The writers of the endless streams end on a broken pipe: only the size
# written counts.
[ -f zero.img ] || truncate -s 2G zero.img
[ -f random.img ] || { openssl enc -aes-128-ctr -K 00112233445566778899aabbccddeeff \
    -iv 00000000000000000000000000000000 -in /dev/zero 2>/dev/null | head -c 2G > random.img || true; }
[ -f ff.img ] || { tr '\000' '\377' < /dev/zero | head -c 2G > ff.img || true; }
for img in zero random ff; do
    [ "$(stat -c %s $img.img)" -eq $((2 << 30)) ] || { echo "$img.img was not made whole" >&2; rm -f "$img.img"; exit 1; }
done
[ -d j ] || "$ROOT/tests/fixtures/make_jpegs.sh" "$WORK/j"
if [ ! -f dense.img ]; then
    "$ROOT/tests/fixtures/make_pictures.sh" "$WORK/p"
    python3 "$ROOT/tests/tools/plant_image.py" dense.img --repeat-to 1G --shuffle --seed 5 \
        --gap zero:0,random:4096,ff:4096 \
        p/*.png p/*.gif p/*.bmp p/*.ico p/pointer.cur p/icon.icns \
        "$ROOT"/tests/data/raw/drawing*.emf "$ROOT"/tests/data/raw/drawing*.wmf j/*.jpg j/end/*.jpg
fi
# JPEG only: every picture of make_jpegs.sh that must be carved.
[ -f jdense.img ] || python3 "$ROOT/tests/tools/plant_image.py" jdense.img --repeat-to 1G --shuffle --seed 7 \
    --gap zero:0,random:4096 j/*.jpg j/end/*.jpg

# file lines of the carved trees in a --list output
count_files() { awk -F'\t' '($1 == 34 || $1 == 36) && NF >= 7 && $5 == 0' "$1" | wc -l; }

row() {
    local exe=$1 img=$2 ss=$3 label=$4
    local bytes out secs rss files rate
    bytes=$(stat -c %s "$img")
    /usr/bin/time -o time.out -f '%e %M' "$exe" scan --deep-disk --sector-size "$ss" --list "$img" \
        > "list-${label%% *}-$ss" 2> /dev/null
    out=$(tail -n 1 time.out)
    secs=${out% *}
    rss=${out#* }
    files=$(count_files "list-${label%% *}-$ss")
    rate=$(python3 -c "print(f'{$bytes / max($secs, 0.001) / 1e6:.0f}')")
    printf '%-22s %6s %12s %8s %8s %8s %9s\n' "$label" "$ss" "$bytes" "$secs" "$rate" "$files" "$((rss / 1024))"
}

printf '%-22s %6s %12s %8s %8s %8s %9s\n' image sector bytes seconds MB/s files "RSS MiB"
for img in zero random ff dense jdense; do
    cat "$img.img" > /dev/null   # warm the page cache
    for ss in 512 4096; do
        row "$BENCH" "$img.img" "$ss" "$img"
    done
done
planted=$(wc -l < dense.img.manifest)
echo "dense.img: $planted files planted"
echo "jdense.img: $(wc -l < jdense.img.manifest) files planted"
for ss in 512 4096; do
    row "$CLI" dense.img "$ss" "dense (vantrel-cli)"
done
