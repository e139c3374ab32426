#!/bin/bash
# Makes the bridge test images in DIR: make-bridge-images.sh DIR
#   vol.img   32 MiB FAT16 "BRIDGEVOL", no partition table:
#             /photo.jpg 3000, /song.mp3 2500, /clip.mp4 200000,
#             /docs/report.pdf 1800, /docs/data.bin 1200, /gone.txt deleted;
#             every file modified 2021-03-04 05:06:08 UTC
#   disk.img  64 MiB GPT: 1 EFI system "EFISYS" (/efi.txt), 2 "DATA"
#             (/a.jpg 4000), 3 "MORE" (/b.txt 100); and each partition as
#             disk-pN.img for the fake kernel partition nodes
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
cd "$1"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
data() { fixture_random "$1" "$2"; }
rm -rf src && mkdir -p src/docs
data photo 3000 > src/photo.jpg; data song 2500 > src/song.mp3; data clip 200000 > src/clip.mp4
data report 1800 > src/docs/report.pdf; data bin 1200 > src/docs/data.bin; data gone 700 > src/gone.txt
data a 4000 > src/a.jpg; printf 'efi\n' > src/efi.txt; data b 100 > src/b.txt
find src -type f -exec touch -d '2021-03-04 05:06:08' {} +
rm -f vol.img
mkfs.fat -C -F 16 -s 4 -n BRIDGEVOL --invariant vol.img 32768 >/dev/null
mmd -i vol.img ::/docs
mcopy -m -i vol.img src/photo.jpg src/song.mp3 src/clip.mp4 src/gone.txt ::/
mcopy -m -i vol.img src/docs/report.pdf src/docs/data.bin ::/docs/
mdel -i vol.img ::/gone.txt

rm -f disk.img; truncate -s 64M disk.img
sgdisk -o -n1:2048:+8M -t1:ef00 -n2:0:+20M -t2:0700 -n3:0:+20M -t3:0700 \
    -U 5EED0000-0000-4000-8000-000000000201 -u 1:5EED0001-0000-4000-8000-000000000201 -u 2:5EED0002-0000-4000-8000-000000000201 -u 3:5EED0003-0000-4000-8000-000000000201 disk.img >/dev/null
mkfs.fat -F 16 -s 1 -n EFISYS --offset 2048 disk.img 8192 >/dev/null
mkfs.fat -F 16 -s 1 -n DATA --offset 18432 disk.img 20480 >/dev/null
mkfs.fat -F 16 -s 1 -n MORE --offset 59392 disk.img 20480 >/dev/null
mcopy -m -i disk.img@@$((2048 * 512)) src/efi.txt ::/
mcopy -m -i disk.img@@$((18432 * 512)) src/a.jpg ::/
mcopy -m -i disk.img@@$((59392 * 512)) src/b.txt ::/
slice() { dd if=disk.img of="$1" bs=512 skip="$2" count="$3" conv=sparse status=none; }
slice disk-p1.img 2048 16384
slice disk-p2.img 18432 40960
slice disk-p3.img 59392 40960
