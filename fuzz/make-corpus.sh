#!/usr/bin/env bash
# Remakes the seed inputs of fuzz/corpus/ from the project's fixture
# generators and the shared volumes: real structures, written small (only
# their non-zero sectors, metadata first; see tools/sparse_seed.py).
# Deterministic: fixed clocks, seeds and names. Needs the fixture tools
# (dosfstools, mtools, ntfs-3g, xorriso, fdisk, gdisk,
# imagemagick, ghostscript, exiftool) and a built vantrel-cli (for the scan results).
# Usage: fuzz/make-corpus.sh [BUILD_DIR]   (default: build)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(realpath -m "${1:-$root/build}")
corpus=$root/fuzz/corpus
seed() { python3 "$root/fuzz/tools/sparse_seed.py" --budget 65536 "$@"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export TZ=UTC LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1600000000 MTOOLS_SKIP_CHECK=1

# FAT: the images of the FAT tests (FAT12, FAT16, FAT32, long names).
bash "$root/tests/fixtures/make_fat.sh" fat >/dev/null
for f in fat12 fat16 fat32 lfn; do seed fat/$f.img "$corpus/fat/$f"; done

# exFAT: the shared images of the exFAT tests.
for f in ex-quick ex-late; do
  xz -dc "$root/tests/data/exfat/$f.img.xz" > $f.img
  seed $f.img "$corpus/exfat/${f#ex-}"
done

# NTFS: the volumes of the NTFS tests (resident, non-resident, fragmented
# and deleted files; compressed and sparse ones; an attribute list), and the
# compressed-file volume of the reader tests. The records go first.
bash "$root/tests/fixtures/make_ntfs.sh" ntfs >/dev/null 2>&1
for f in basic packed links; do
  [ -f ntfs/ntfs-$f.img ] && seed --prefer FILE INDX -- ntfs/ntfs-$f.img "$corpus/ntfs/$f"
done
xz -dc "$root/tests/data/ntfs_lznt1.img.xz" > lznt1.img
seed --prefer FILE INDX -- lznt1.img "$corpus/ntfs/lznt1"

# HFS+: the volume a Mac wrote, and an xorriso volume of a few files.
xz -dc "$root/../../shared/fixtures/macos/hfsplus.raw.xz" > hfs-mac.raw 2>/dev/null ||
  xz -dc /work/shared/fixtures/macos/hfsplus.raw.xz > hfs-mac.raw
seed hfs-mac.raw "$corpus/hfsplus/mac-volume"
mkdir -p hfs-src/folder && printf 'hello\n' > hfs-src/a.txt && printf '%.0s0123456789' $(seq 500) > hfs-src/folder/b.txt
find hfs-src -exec touch -d '2021-03-04 05:06:07' {} +
xorriso -as mkisofs -quiet -hfsplus -o hfs-xorriso.iso hfs-src 2>/dev/null
# The HFS+ volume starts where the Apple partition map says; the whole
# disk goes to the partition table seeds, the volume alone here.
start=$(python3 - hfs-xorriso.iso <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
for b in range(1, 64):
    e = d[b * 512:(b + 1) * 512]
    if e[:2] != b"PM":
        break
    if e[48:61].rstrip(b"\0") == b"Apple_HFS":
        print(struct.unpack(">I", e[8:12])[0] * 512 // 512); break
PY
)
seed --start "${start:-0}" hfs-xorriso.iso "$corpus/hfsplus/xorriso"

# APFS: the container a Mac wrote.
xz -dc /work/shared/fixtures/macos/apfs.raw.xz > apfs-mac.raw
seed apfs-mac.raw "$corpus/apfs/mac-container"

# Partition tables: MBR with an extended chain, GPT, the xorriso APM disk.
truncate -s 64M mbr.img
sfdisk -q mbr.img <<'T'
label: dos
label-id: 0x12345678
1M,8M,c
,8M,7
,,5
,8M,83
,8M,83
T
seed mbr.img "$corpus/partition/mbr-ebr"
truncate -s 64M gpt.img
sgdisk -q -U 11111111-2222-3333-4444-555555555555 \
  -n 1:2048:+8M -t 1:0700 -u 1:11111111-0000-0000-0000-000000000001 \
  -n 2:0:+8M -t 2:af00 -u 2:11111111-0000-0000-0000-000000000002 gpt.img >/dev/null
seed gpt.img "$corpus/partition/gpt"
[ -f ntfs/ntfs-disk.img ] && seed ntfs/ntfs-disk.img "$corpus/partition/ntfs-disk"
seed hfs-xorriso.iso "$corpus/partition/apm"

# RAW: small files of the carving families.
mkdir -p pics
bash "$root/tests/fixtures/make_jpegs.sh" pics >/dev/null 2>&1 || true
for f in pics/xiaomi1.jpg pics/canon-le.jpg pics/thumb.jpg; do
  [ -f "$f" ] && head -c 65536 "$f" > "$corpus/raw/$(basename "$f")"
done
for f in "$root"/tests/data/raw/*.{wmf,emf,mp4}; do
  [ "$(stat -c %s "$f")" -le 65536 ] && cp "$f" "$corpus/raw/"
done
/usr/bin/convert -size 32x32 xc:'#336699' png:"$corpus/raw/small.png"
/usr/bin/convert -size 32x32 xc:'#336699' gif:"$corpus/raw/small.gif"
/usr/bin/convert -size 32x32 xc:'#336699' bmp:"$corpus/raw/small.bmp"
/usr/bin/convert -size 32x32 xc:'#336699' tif:"$corpus/raw/small.tif"
gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o "$corpus/raw/small.pdf" \
  -c "/Helvetica findfont 12 scalefont setfont 72 72 moveto (fuzz) show showpage"
(cd hfs-src && TZ=UTC zip -q -X -D ../small.zip a.txt folder/b.txt) && cp small.zip "$corpus/raw/small.zip"
cp "$root/../../shared/fixtures/regress/libreoffice-7.4-first-entry-rels.pptx" "$corpus/raw/rels.pptx" 2>/dev/null ||
  cp /work/shared/fixtures/regress/libreoffice-7.4-first-entry-rels.pptx "$corpus/raw/rels.pptx"

# EXIF: the APP1 blocks of the JPEG fixtures, from their "Exif" on.
for f in pics/xiaomi1.jpg pics/canon-le.jpg pics/canon-jfif.jpg pics/thumb.jpg; do
  [ -f "$f" ] || continue
  python3 - "$f" "$corpus/exif/$(basename "$f" .jpg)" <<'PY'
import struct, sys
d = open(sys.argv[1], "rb").read()
at = d.find(b"Exif\0\0")
if at >= 4:
    length = struct.unpack(">H", d[at - 2:at])[0]
    open(sys.argv[2], "wb").write(d[at:at - 2 + length])
PY
done

# Scan results: quick and deep scans of the FAT16 image saved by the CLI.
if [ -x "$build/tools/vantrel-cli/vantrel-cli" ]; then
  cli=$build/tools/vantrel-cli/vantrel-cli
  export VANTREL_WORK_DIR=$work/state
  mkdir -p "$VANTREL_WORK_DIR"
  "$cli" scan --quick --offset 0 --save quick.rsf fat/lfn.img >/dev/null 2>&1 && cp quick.rsf "$corpus/scanresult/quick-fat"
  "$cli" scan --deep --offset 0 --save deep.rsf fat/lfn.img >/dev/null 2>&1 && head -c 65536 deep.rsf > "$corpus/scanresult/deep-fat"
fi
ls "$corpus"/* | head -100
