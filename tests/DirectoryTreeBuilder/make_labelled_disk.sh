#!/bin/bash
# Makes, in folder $1, disks whose volumes carry labels, with the tools that
# put those labels there (no mount needed):
#   labelled.img  a GPT disk: FAT32 "MULTIFAT" (mkfs.fat, mcopy), NTFS
#                 "MULTINTFS" (mkntfs, ntfscp), exFAT "EXQUICK" (the committed
#                 exFAT image) and, where xorriso exists, HFS+ "MULTIHFS"
#   twontfs.img   an MBR disk of two unlabelled NTFS volumes
#   fatcase.img   a bare FAT16 volume whose lower-case 8.3 names are stored
#                 upper case with the case flags (mtools), one of them deleted
# Each volume holds one file named after it. Fixed clocks and serials.
set -euo pipefail
out=$(realpath -m "$1"); mkdir -p "$out"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
src=$(cd "$here/../data/exfat" && pwd)
cd "$out"
export LC_ALL=C.UTF-8 TZ=UTC MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1600000000
rm -rf parts && mkdir parts
printf 'fat32 volume\n' > parts/fat.txt
printf 'ntfs volume\n' > parts/ntfs.txt
touch -d '2020-09-13 12:26:40' parts/*.txt

mkfs_fat() { mkfs.fat --invariant "$@" >/dev/null 2>&1 || mkfs.fat "$@" >/dev/null; }
truncate -s 40M parts/fat.img
mkfs_fat -F 32 -n MULTIFAT -i 1234ABCD parts/fat.img
mcopy -m -i parts/fat.img parts/fat.txt ::/fat.txt

ntfs_volume() {  # ntfs_volume IMG [LABEL]
  truncate -s 16M "$1"
  if [ -n "${2:-}" ]; then mkntfs -F -Q -T -L "$2" "$1" >/dev/null 2>&1; else mkntfs -F -Q -T "$1" >/dev/null 2>&1; fi
  ntfscp -f "$1" parts/ntfs.txt ntfs.txt >/dev/null 2>&1
}
ntfs_volume parts/ntfs.img MULTINTFS

xz -dc "$src/ex-quick.img.xz" > parts/exfat.img

hfs=""
if command -v xorriso >/dev/null; then
  mkdir -p parts/hfs && printf 'hfs volume\n' > parts/hfs/hfs.txt && touch -d '2020-09-13 12:26:40' parts/hfs/hfs.txt
  xorriso -as mkisofs -quiet -hfsplus -V MULTIHFS -hfs-bless-by p / -o parts/hfs.iso parts/hfs 2>/dev/null ||
    xorriso -as mkisofs -quiet -hfsplus -V MULTIHFS -o parts/hfs.iso parts/hfs 2>/dev/null
  read -r hs hn < <(python3 "$here/hfs_volume.py" parts/hfs.iso)
  [ -n "${hs:-}" ] && hfs=1
fi

sectors() { echo $(( $(stat -c %s "$1") / 512 )); }
f=$(sectors parts/fat.img); n=$(sectors parts/ntfs.img); e=$(sectors parts/exfat.img)
a=2048; b=$((a + f)); c=$((b + n)); d=$((c + e)); end=$d
[ -n "$hfs" ] && end=$((d + hn + 100))
truncate -s 0 labelled.img; truncate -s $(( (end + 2048) * 512 )) labelled.img
{
  echo 'label: gpt'
  echo "start=$a, size=$f"; echo "start=$b, size=$n"; echo "start=$c, size=$e"
  [ -n "$hfs" ] && echo "start=$d, size=$((hn + 100))"
} | sfdisk -q labelled.img >/dev/null
dd if=parts/fat.img of=labelled.img bs=512 seek=$a conv=notrunc status=none
dd if=parts/ntfs.img of=labelled.img bs=512 seek=$b conv=notrunc status=none
dd if=parts/exfat.img of=labelled.img bs=512 seek=$c conv=notrunc status=none
[ -n "$hfs" ] && dd if=parts/hfs.iso of=labelled.img bs=512 skip="$hs" seek=$d count="$hn" conv=notrunc status=none

ntfs_volume parts/n1.img; ntfs_volume parts/n2.img
truncate -s 0 twontfs.img; truncate -s 40M twontfs.img
printf 'start=2048, size=32768, type=7\nstart=36864, size=32768, type=7\n' | sfdisk -q twontfs.img >/dev/null
dd if=parts/n1.img of=twontfs.img bs=512 seek=2048 conv=notrunc status=none
dd if=parts/n2.img of=twontfs.img bs=512 seek=36864 conv=notrunc status=none

# FAT16: names that fit 8.3 in lower case get only the case flags; a mixed
# case name gets a long name.
rm -f fatcase.img; truncate -s 16M fatcase.img
mkfs_fat -F 16 -n CASES -i 0BADCAFE fatcase.img
for name in notes.txt debian.mp3 a-text.pdf Mixed.Txt gone.txt; do
  printf '%s\n' "$name" > "parts/$name"; touch -d '2020-09-13 12:26:40' "parts/$name"
  mcopy -m -i fatcase.img "parts/$name" "::/$name"
done
mmd -i fatcase.img ::/docs
mcopy -m -i fatcase.img parts/notes.txt ::/docs/readme.txt
mdel -i fatcase.img ::/gone.txt
[ -n "$hfs" ] && echo hfs > has-hfs
rm -rf parts
