#!/usr/bin/env bash
# The whole-disk deep scan against the speed of reading: over a 2 GiB image of
# random bytes, a 2 GiB image of zeros and a 1 GiB NTFS volume holding
# thousands of files written through ntfs-3g, each warmed in the page cache,
# prints seconds, MB/s and peak RSS of
#   vantrel-cli scan --deep-disk --list   (every searcher)
#   raw_scan_bench                        (the RAW searcher alone)
#   cat                                   (reading alone)
#   photorec                              (testdisk's signature carver, whole space)
# Usage: bench/deep_scan_all.sh [BUILD_DIR] [WORK_DIR] [IMAGE...]
#   WORK_DIR keeps the images between runs (default: a temporary folder).
#   IMAGE: any of random zero ntfs (default: all three).
#   VANTREL_SCAN_THREADS is passed on to vantrel-cli when set.
#   REPEAT=N runs every row N times and prints the best (default 1).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR=$(cd "${1:-$ROOT/build}" && pwd)
CLI=$BUILD_DIR/tools/vantrel-cli/vantrel-cli
RAW=$BUILD_DIR/bench/raw_scan_bench
for exe in "$CLI" "$RAW"; do
    [ -x "$exe" ] || { echo "missing $exe: build vantrel-cli and raw_scan_bench first" >&2; exit 1; }
done
if [ -n "${2:-}" ]; then
    WORK=$(realpath -m "$2")
    mkdir -p "$WORK"
else
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
fi
shift $(( $# >= 2 ? 2 : $# ))
IMAGES=("$@")
[ ${#IMAGES[@]} -gt 0 ] || IMAGES=(random zero ntfs)
REPEAT=${REPEAT:-1}
cd "$WORK"

make_random() {
    [ -f random.img ] && [ "$(stat -c %s random.img)" -eq $((2 << 30)) ] && return
    # The endless stream ends on a broken pipe: only the size written counts.
    openssl enc -aes-128-ctr -K 00112233445566778899aabbccddeeff -iv 00000000000000000000000000000000 \
        -in /dev/zero 2>/dev/null | head -c 2G > random.img || true
    [ "$(stat -c %s random.img)" -eq $((2 << 30)) ] || { echo "random.img was not made whole" >&2; exit 1; }
}

make_zero() {
    [ -f zero.img ] || { truncate -s 2G zero.img.part && mv zero.img.part zero.img; }
}

# 1 GiB NTFS volume: 40 folders of 100 files of 1-60 KiB, some deleted.
make_ntfs() {
    [ -f ntfs.img ] && return
    command -v mkntfs >/dev/null && command -v ntfs-3g >/dev/null ||
        { echo "ntfs: mkntfs and ntfs-3g are needed" >&2; return 1; }
    rm -f ntfs.img.part
    truncate -s 1G ntfs.img.part
    mkntfs -F -Q -c 4096 -L BENCH ntfs.img.part >/dev/null 2>&1
    mkdir -p mnt
    ntfs-3g ntfs.img.part mnt || { echo "ntfs: no ntfs-3g mount here (FUSE)" >&2; return 1; }
    python3 - mnt <<'PY'
import os, random, sys
root = sys.argv[1]
rng = random.Random(25)
for d in range(40):
    folder = os.path.join(root, f"folder{d:02d}")
    os.makedirs(folder)
    for f in range(100):
        size = rng.randint(1, 60) * 1024 + rng.randint(0, 1023)
        with open(os.path.join(folder, f"file{f:03d}.bin"), "wb") as out:
            out.write(rng.randbytes(size))
    for f in range(0, 100, 10):
        os.remove(os.path.join(folder, f"file{f:03d}.bin"))
PY
    umount mnt
    for _ in $(seq 100); do pgrep -f "ntfs-3g ntfs.img.part " >/dev/null || break; sleep 0.1; done
    mv ntfs.img.part ntfs.img
}

# best of REPEAT runs of a command: "seconds peakKiB"
measure() {
    local best="" out secs
    for _ in $(seq "$REPEAT"); do
        /usr/bin/time -o time.out -f '%e %M' "$@" > row.out 2> row.err || true
        out=$(tail -n 1 time.out)
        secs=${out% *}
        if [ -z "$best" ] || python3 -c "import sys; sys.exit(0 if $secs < ${best% *} else 1)"; then best=$out; fi
    done
    echo "$best"
}

row() {
    local label=$1 img=$2
    shift 2
    local bytes out secs rss
    bytes=$(stat -c %s "$img")
    out=$(measure "$@")
    secs=${out% *}
    rss=${out#* }
    printf '%-8s %-12s %8s %9s %9s\n' "${img%.img}" "$label" "$secs" \
        "$(python3 -c "print(f'{$bytes / max($secs, 0.001) / 1e6:.0f}')")" "$((rss / 1024))"
}

echo "load: $(uptime)"
echo "threads: ${VANTREL_SCAN_THREADS:-default}"
printf '%-8s %-12s %8s %9s %9s\n' image what seconds MB/s "RSS MiB"
for name in "${IMAGES[@]}"; do
    "make_$name" || continue
    img=$name.img
    cat "$img" > /dev/null   # warm the page cache
    row deep-disk "$img" "$CLI" scan --deep-disk --list "$img"
    files=$(wc -l < row.out)
    row raw-alone "$img" "$RAW" scan --deep-disk --list "$img"
    row cat "$img" sh -c 'cat "$1" > /dev/null' sh "$img"
    if command -v photorec >/dev/null; then
        rm -rf carver carver.*
        row photorec "$img" photorec /log /d "$WORK/carver" /cmd "$img" \
            partition_none,fileopt,everything,enable,wholespace,search
        rm -rf carver carver.* photorec.log photorec.ses
    fi
    echo "$name: $files entries listed by the deep scan"
done
