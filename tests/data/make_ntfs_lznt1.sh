#!/usr/bin/env bash
# Makes ntfs_lznt1.img.xz: a 64 MiB NTFS volume (4 KiB clusters) whose folder
# "cmp" carries the compressed attribute, holding
#   text.txt   about 1.3 MB of seeded random words (compresses well),
#   mixed.bin  64 KiB random, 300,000 bytes of text, 128 KiB of zeros and
#              100,000 bytes of text (stored, compressed and sparse units),
#   tiny.txt   "tiny" (resident).
# Needs root, FUSE and ntfs-3g; the result is committed, so tests do not.
# Usage: make_ntfs_lznt1.sh [OUTPUT.img.xz]
set -euo pipefail
out=${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/ntfs_lznt1.img.xz}
work=$(mktemp -d)
cleanup() {
    mountpoint -q "$work/mnt" 2>/dev/null && umount "$work/mnt"
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work"

python3 - <<'PY'
import random
rng = random.Random(20240501)
words = ["".join(rng.choice("abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(8)]
def text(n):
    out = []
    size = 0
    while size < n:
        w = rng.choice(words) + (" " if rng.random() < 0.9 else "\n")
        out.append(w)
        size += len(w)
    return "".join(out).encode()[:n]
open("text.txt", "wb").write(text(1300000))
mixed = bytes(rng.getrandbits(8) for _ in range(65536)) + text(300000) + bytes(131072) + text(100000)
open("mixed.bin", "wb").write(mixed)
PY

truncate -s 64M ntfs.img
mkntfs -F -Q -c 4096 -L CMP ntfs.img >/dev/null
mkdir mnt
ntfs-3g -o compression ntfs.img mnt
mkdir mnt/cmp
python3 -c "import os; os.setxattr('mnt/cmp', 'system.ntfs_attrib_be', (0x810).to_bytes(4, 'big'))"
cp text.txt mixed.bin mnt/cmp/
printf tiny > mnt/cmp/tiny.txt
umount mnt
xz -9 -c ntfs.img > "$out"
echo "wrote $out ($(stat -c %s "$out") bytes)"
