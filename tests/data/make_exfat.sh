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

dsk=$work/ex-disk.img; truncate -s 160M "$dsk"       # exFAT at 2048 (4 KiB clusters) and 133120 (32 KiB)
printf 'label: dos\nstart=2048, size=131072, type=7\nstart=133120, size=194560, type=7\n' | sfdisk -q "$dsk"
on "$dsk" -o $((2048 * 512)) --sizelimit $((131072 * 512)); mkfs.exfat -L EXP1 "$L" >/dev/null; mnt
mkdir -p "$M/top/a/b/c" "$M/many" "$M/trash me"
for d in top top/a top/a/b top/a/b/c; do for i in 1 2 3 4 5; do put "$d/file $i in ${d//\//-}.txt" $((150 * i)); done; done
for i in $(seq -w 1 60); do put "many/entry set number $i with a longer name.txt" 40; done   # 5-entry sets
put A.txt 1000; put B.txt 1000; put C.txt 1000; rm "$M/B.txt"; put D.txt 3000
for i in 1 2 3 4; do put "trash me/t$i.txt" 600; done
put lost.txt 900; manifest ex-disk-p1
rm -r "$M/trash me"; rm "$M/lost.txt"
off
on "$dsk" -o $((133120 * 512)) --sizelimit $((194560 * 512)); mkfs.exfat -c 32K -L EXP2 "$L" >/dev/null; mnt
mkdir -p "$M/pics" "$M/deep/x/y/z"
for i in $(seq 1 10); do put "pics/pic $i.txt" $((3000 + 100 * i)); done
for d in deep deep/x deep/x/y deep/x/y/z; do put "$d/leaf.txt" 500; done; manifest ex-disk-p2
off
late=$work/ex-late.img; truncate -s 64M "$late"; mkfs.exfat -c 512 -L EXLATE "$late" >/dev/null
on "$late"; mnt                                      # every first cluster named in the root lies above 50,000
head -c $((26 * 1024 * 1024)) /dev/zero > "$M/filler.bin"; mkdir "$M/late"; put late/only.txt 50
rm "$M/filler.bin"; mv "$M/late" "$M/late-moved"     # the rename overwrites the filler's entry set
off

for f in "$img" "$img4" "$dsk" "$late"; do xz -9 -c "$f" > "$out/$(basename "$f").xz"; done
