#!/bin/bash
# Makes disks of two volumes whose folders carry the same node ids, in
# folder $1:
#   ntfs-two.img  (needs an ntfs-3g mount) an MBR disk of two NTFS volumes
#                 made the same way, so that their folders get the same
#                 record numbers; the files hold other bytes on each
#   hfs-two.img   (needs xorriso) a GPT disk of two HFS+ volumes of the
#                 same layout, whose folders get the same catalog ids
# and src1/, src2/ with the files of volume 1 and 2 (paths below the root).
# A second argument "ntfs" or "hfs" makes only that image. An image that
# cannot be made here is left out.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
out=$(realpath -m "$1"); mkdir -p "$out"; cd "$out"
only=${2:-}
export LC_ALL=C.UTF-8 TZ=UTC
data() { fixture_random "$1" "$2"; }
rm -rf src1 src2 mnt ntfs-two.img hfs-two.img vol1.img vol2.img vol1.iso vol2.iso
mkdir -p mnt

# One layout, other contents and sizes: volume v gets seed "v-name" and
# a size that differs by v.
for v in 1 2; do
  s=src$v
  mkdir -p "$s/docs/sub" "$s/photos" "$s/empty parent/inner"
  data "$v-a" $((3000 + v * 100)) > "$s/docs/a.txt"
  data "$v-b" $((20000 + v * 1000)) > "$s/docs/sub/b.bin"
  data "$v-c" $((9000 + v * 10)) > "$s/photos/c.jpg"
  data "$v-d" $((1500 + v)) > "$s/empty parent/inner/d.txt"
  data "$v-t" $((700 + v)) > "$s/top.txt"
done
fixture_touch src1 src2

unmount() {
  umount mnt
  for _ in $(seq 100); do pgrep -f "ntfs-3g.* $1 " >/dev/null || return 0; sleep 0.1; done
}

make_ntfs() {
  local v=$1
  truncate -s 16M "vol$v.img"
  mkntfs -F -Q -T -c 4096 -L "VOL$v" "vol$v.img" >/dev/null 2>&1
  ntfs-3g "vol$v.img" mnt 2>/dev/null || return 1
  # The same steps in the same order on both volumes: equal record numbers.
  (cd "src$v" && find . -mindepth 1 -type d | sort | while read -r d; do mkdir -p "../mnt/$d"; done)
  (cd "src$v" && find . -type f | sort | while read -r f; do cp "$f" "../mnt/$f"; sync; done)
  unmount "vol$v.img"
}
if [ "$only" != hfs ] && [ -z "${NTFS_FIXTURE_NO_MOUNT:-}" ] && make_ntfs 1 && make_ntfs 2; then
  truncate -s 40M ntfs-two.img
  printf 'label: dos\nlabel-id: 0x5eed0002\nstart=2048, size=32768, type=7\nstart=36864, size=32768, type=7\n' |
    sfdisk -q ntfs-two.img >/dev/null
  dd if=vol1.img of=ntfs-two.img bs=512 seek=2048 conv=notrunc status=none
  dd if=vol2.img of=ntfs-two.img bs=512 seek=36864 conv=notrunc status=none
fi
rm -f vol1.img vol2.img

# HFS+: the volume of a hybrid image starts a few sectors in and spans it.
hfs_volume() { python3 "$here/hfs_volume.py" "$1"; }  # "first-sector sector-count"
if [ "$only" != ntfs ] && command -v xorriso >/dev/null; then
  # Two seconds apart: volumes that carry the same creation date are taken
  # for copies of one volume.
  fixture_clock_at 0 xorriso -as mkisofs -quiet -hfsplus -o vol1.iso src1 2>/dev/null
  fixture_clock_at 2 xorriso -as mkisofs -quiet -hfsplus -o vol2.iso src2 2>/dev/null
  read -r s1 n1 < <(hfs_volume vol1.iso)
  read -r s2 n2 < <(hfs_volume vol2.iso)
  size=$(( (n1 > n2 ? n1 : n2) + 100 ))
  # The first volume where a Mac puts its first partition (20 KiB in).
  a=40; b=$(( (a + size + 2047) / 2048 * 2048 ))
  truncate -s $(( (b + size + 2048) * 512 )) hfs-two.img
  printf 'label: gpt\nlabel-id: %s\nfirst-lba: 34\nstart=%d, size=%d, uuid=%s\nstart=%d, size=%d, uuid=%s\n' \
    5EED0000-0000-4000-8000-000000000002 $a $size 5EED0001-0000-4000-8000-000000000002 \
    $b $size 5EED0002-0000-4000-8000-000000000002 |
    sfdisk -q hfs-two.img >/dev/null
  dd if=vol1.iso of=hfs-two.img bs=512 skip="$s1" seek=$a count="$n1" conv=notrunc status=none
  dd if=vol2.iso of=hfs-two.img bs=512 skip="$s2" seek=$b count="$n2" conv=notrunc status=none
fi
rm -f vol1.iso vol2.iso
rmdir mnt
