#!/bin/bash
# Makes the committed exFAT images under tests/data/exfat/ (xz-compressed),
# each with a sha256 manifest of the files written, taken before deletions.
# Needs root, a free loop device, /dev/fuse, exfatprogs, exfat-fuse, fdisk, python3, xz.
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/exfat}"); mkdir -p "$out"
work=$(mktemp -d); M=$work/mnt; mkdir "$M"; L=
cleanup() { mountpoint -q "$M" && umount "$M"; [ -n "$L" ] && losetup -d "$L"; rm -rf "$work"; }
trap cleanup EXIT
export TZ=UTC LC_ALL=C.UTF-8
on()  { L=$(losetup -f --show "$@"); }
mnt() { mount.exfat-fuse "$L" "$M"; }
off() { sync; umount "$M"; losetup -d "$L"; L=; }
manifest() { (cd "$M" && find . -type f -print0 | sort -z | xargs -0 sha256sum) > "$out/$1.sha256"; }
put() {   # put PATH LINES: a text file whose lines name it, mtime fixed
  python3 -c 'import sys; n,k=sys.argv[1],int(sys.argv[2]); open(n,"w").write("".join("%s line %06d\n"%(n.rsplit("/",1)[-1],i) for i in range(k)))' "$M/$1" "$2"
  touch -d '2021-03-04 05:06:08' "$M/$1"; }

img=$work/ex-quick.img; truncate -s 64M "$img"; mkfs.exfat -L EXQUICK "$img" >/dev/null
on "$img"; mnt
mkdir "$M/contig"                                  # first, so that it grows contiguously (NoFatChain)
for i in $(seq -w 1 120); do : > "$M/contig/empty file with a long name $i.txt"; done
put contig/data.txt 2000
rm "$M/contig/empty file with a long name 003.txt"; mkdir "$M/contig/sub"; put contig/sub/inner.txt 100
put A.txt 1000; put B.txt 1000; put C.txt 1000; rm "$M/B.txt"; put D.txt 3000   # D.txt: FAT chain, 2 extents
put P.txt 1000; put Q.txt 1000; put R.txt 1000; rm "$M/Q.txt"; put S.txt 3000   # S.txt: FAT chain
mkdir "$M/photos" "$M/old stuff"
for i in 1 2 3 4 5 6; do put "photos/photo $i.txt" $((400 * i)); done
for i in 1 2 3; do put "old stuff/note $i.txt" 800; done
put "Ünïcödé-名前.txt" 300; put "emoji-😀-name.txt" 100; put "abcdefghijklmn😀.txt" 100
: > "$M/empty1.txt"; : > "$M/empty2.txt"; put gone.txt 500
manifest ex-quick
# deletions last, so no later write reuses their entries or clusters
rm "$M/S.txt" "$M/gone.txt" "$M/photos/photo 2.txt" "$M/photos/photo 5.txt"; rm -r "$M/old stuff"
off

img4=$work/ex-4k.img; truncate -s 64M "$img4"
on "$img4" -b 4096; mkfs.exfat -L EX4K "$L" >/dev/null; mnt
mkdir "$M/dir"; put dir/one.txt 2000; put dir/two.txt 100; put three.txt 700; manifest ex-4k; rm "$M/dir/two.txt"
off

for f in "$img" "$img4"; do xz -9 -c "$f" > "$out/$(basename "$f").xz"; done
