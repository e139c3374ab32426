#!/bin/bash
# Makes the device-enumeration test images in DIR: make-images.sh DIR [slices]
#   mbr.img   64 MiB, MBR: 1 FAT16 "FATONE", 2 empty, 3 extended, 5 FAT16 "LOGIC"
#   gpt.img   80 MiB, GPT: 1 BIOS boot (1 MiB), 2 (20 MiB), 3 (40 MiB)
#   g4k.img   64 MiB of 4096-byte sectors, GPT: 1 at 256, 12288 sectors
#   small.img 4 MiB, eight.img 8 MiB, both empty
# With "slices", also the bytes of each partition as its own file
# (NAME-pN.img), to stand in for the kernel's partition nodes.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
cd "$1"

truncate -s 64M mbr.img
printf 'label: dos\nlabel-id: 0x5eed0101\nstart=2048,size=20480,type=6\nstart=22528,size=20480,type=7\nstart=43008,type=5\nstart=45056,size=16384,type=6\n' | sfdisk -q mbr.img
mkfs.fat -F 16 -n FATONE --offset 2048 mbr.img 10240 >/dev/null
mkfs.fat -F 16 -s 1 -n LOGIC --offset 45056 mbr.img 8192 >/dev/null
truncate -s 80M gpt.img
# sgdisk without -q: with it, a blank file silently stays blank.
sgdisk -o -n1:2048:+1M -t1:ef02 -n2:0:+20M -t2:0700 -n3:0:+40M -t3:8300 \
    -U 5EED0000-0000-4000-8000-000000000101 -u 1:5EED0001-0000-4000-8000-000000000101 -u 2:5EED0002-0000-4000-8000-000000000101 -u 3:5EED0003-0000-4000-8000-000000000101 gpt.img >/dev/null
truncate -s 64M g4k.img
printf 'g\nn\n1\n256\n12543\nx\ni\n5EED0000-0000-4000-8000-000000000102\nu\n5EED0001-0000-4000-8000-000000000102\nr\nw\n' | fdisk -b 4096 g4k.img >/dev/null
truncate -s 4M small.img
truncate -s 8M eight.img

[ "${2:-}" = slices ] || exit 0
# slice IMG NAME SKIP COUNT [BS]
slice() { dd if="$1" of="$2" bs="${5:-512}" skip="$3" count="$4" conv=sparse status=none; }
slice mbr.img mbr-p1.img 2048 20480
slice mbr.img mbr-p2.img 22528 20480
slice mbr.img mbr-p3.img 43008 2
slice mbr.img mbr-p5.img 45056 16384
slice gpt.img gpt-p1.img 2048 2048
slice gpt.img gpt-p2.img 4096 40960
slice g4k.img g4k-p1.img 256 12288 4096
