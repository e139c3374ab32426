#!/bin/bash
# Makes partition-table test images: make-fixtures.sh DIR NAME...
# Each NAME becomes DIR/NAME.img (sparse). Images other names are derived
# from are made on the way. The expected listings are in the tests.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
cd "$1"
shift

# patch IMG OFFSET FORMAT: writes printf FORMAT's bytes at OFFSET of IMG.
patch() { printf "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }

# be32 N: four big-endian bytes as printf escapes.
be32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 >> 24 & 255)) $(($1 >> 16 & 255)) $(($1 >> 8 & 255)) $(($1 & 255)); }

need() { [ -e "$1.img" ] || make "$1"; }

# The first extended boot record of mbr.img and mbr3.img.
EBR=$((22528 * 512))

make() {
    case $1 in
    # A primary and three logical partitions.
    mbr)
        truncate -s 64M mbr.img
        printf 'label: dos\nlabel-id: 0x12345678\nstart=2048, size=20480, type=83\nstart=22528, type=5\nstart=24576, size=8192, type=83\nstart=34816, size=8192, type=7\nstart=45056, size=8192, type=c\n' | sfdisk -q mbr.img ;;
    # Boot indicator 0x01 in entry 1.
    boot01) need mbr; cp mbr.img boot01.img; patch boot01.img 446 '\x01' ;;
    # Type 0x42 (dynamic disk) in entry 2.
    dyn) need mbr; cp mbr.img dyn.img; patch dyn.img 450 '\x42' ;;
    # Entry 1 moved to start at sector 200,000, past the 131,072-sector disk.
    past) need mbr; cp mbr.img past.img; patch past.img 454 '\x40\x0d\x03\x00' ;;
    # The first EBR's link (made to point at the EBR itself) comes before its
    # logical entry: a chain that never ends unless the reader notices.
    ebrloop)
        need mbr; cp mbr.img ebrloop.img
        dd if=mbr.img of=logical.bin bs=1 skip=$((EBR + 446)) count=16 status=none
        dd if=mbr.img of=link.bin bs=1 skip=$((EBR + 462)) count=16 status=none
        patch link.bin 8 '\0\0\0\0'
        cat link.bin logical.bin | dd of=ebrloop.img bs=1 seek=$((EBR + 446)) conv=notrunc status=none
        rm -f link.bin logical.bin ;;
    # The first EBR's link points far past the disk's end.
    ebr-linkpast) need mbr; cp mbr.img ebr-linkpast.img; patch ebr-linkpast.img $((EBR + 470)) '\x00\xff\xff\xff' ;;
    # The first EBR lost its 55 AA.
    ebr-nosig) need mbr; cp mbr.img ebr-nosig.img; patch ebr-nosig.img $((EBR + 510)) '\0\0' ;;
    # Linux extended container (0x85) holding two logical partitions.
    x85)
        truncate -s 64M x85.img
        printf 'label: dos\nlabel-id: 0x5eed0302\nstart=2048, size=20480, type=83\nstart=22528, type=85\nstart=24576, size=8192, type=83\nstart=34816, size=8192, type=7\n' | sfdisk -q x85.img ;;
    # A primary after the extended container in the table.
    mbr3)
        truncate -s 64M mbr3.img
        printf 'label: dos\nlabel-id: 0x5eed0303\nstart=2048, size=20480, type=83\nstart=22528, size=40960, type=5\nstart=63488, size=8192, type=83\nstart=24576, size=8192, type=83\nstart=34816, size=8192, type=83\n' | sfdisk -q mbr3.img ;;
    # mbr3 whose first EBR holds its link twice.
    ebr-twolinks)
        need mbr3; cp mbr3.img ebr-twolinks.img
        dd if=mbr3.img of=ebr-twolinks.img bs=1 skip=$((EBR + 462)) seek=$((EBR + 478)) count=16 conv=notrunc status=none ;;
    # Protective-looking MBR and nothing else: read as a GPT without entries.
    ee)
        truncate -s 64M ee.img
        printf 'label: dos\nlabel-id: 0x5eed0304\nstart=1, size=131071, type=ee\n' | sfdisk -q ee.img ;;
    # 1 MiB BIOS-boot and 200 MiB EFI partitions.
    gpt)
        truncate -s 256M gpt.img
        sgdisk -n1:2048:+1M -t1:ef02 -n2:0:+200M -t2:ef00 -U 5EED0000-0000-4000-8000-000000000305 -u 1:5EED0001-0000-4000-8000-000000000305 -u 2:5EED0002-0000-4000-8000-000000000305 gpt.img >/dev/null ;;
    gpt-trunc) need gpt; cp gpt.img gpt-trunc.img; truncate -s 150M gpt-trunc.img ;;
    # Entry 2's last LBA set to 2^64-1.
    gpt-lastff) need gpt; cp gpt.img gpt-lastff.img; patch gpt-lastff.img 1192 '\xff\xff\xff\xff\xff\xff\xff\xff' ;;
    # Entry 2's first LBA set to 0xffffffffffffff00 (negative as signed).
    gpt-firstff) need gpt; cp gpt.img gpt-firstff.img; patch gpt-firstff.img 1184 '\x00\xff\xff\xff\xff\xff\xff\xff' ;;
    gpt-dyn) need gpt; cp gpt.img gpt-dyn.img; patch gpt-dyn.img 466 '\x42' ;;
    # Only the first two sectors of gpt.img: the entry array cannot be read.
    gpt-short) need gpt; head -c 1024 gpt.img > gpt-short.img ;;
    # GPT on 4096-byte sectors: 64 MiB and 8 MiB partitions.
    g4k)
        truncate -s 128M g4k.img
        printf 'g\nn\n1\n256\n16639\nn\n2\n16640\n18687\nx\ni\n5EED0000-0000-4000-8000-000000000306\nu\n1\n5EED0001-0000-4000-8000-000000000306\nu\n2\n5EED0002-0000-4000-8000-000000000306\nr\nw\n' | fdisk -b 4096 g4k.img >/dev/null ;;
    apm)
        truncate -s 64M apm.img
        parted -s apm.img mklabel mac mkpart p1 hfs+ 1MiB 30MiB mkpart p2 hfs+ 30MiB 60MiB 2>/dev/null ;;
    # Map header claiming 32 entries.
    apm32) need apm; cp apm.img apm32.img; patch apm32.img 516 '\x00\x00\x00\x20' ;;
    # Map header without its "PM" signature.
    apm-nomap) need apm; cp apm.img apm-nomap.img; patch apm-nomap.img 512 'XX' ;;
    # Only the first four sectors of apm.img: the walk fails at entry 4.
    apm-short) need apm; head -c 2048 apm.img > apm-short.img ;;
    # 2048-byte map blocks on 512-byte sectors, written by hand.
    apm2k)
        truncate -s 64M apm2k.img
        patch apm2k.img 0 '\x45\x52\x08\x00'
        local sector start count type
        while read -r sector start count type; do
            patch apm2k.img $((sector * 512)) "PM\\0\\0$(be32 3)$(be32 "$start")$(be32 "$count")"
            patch apm2k.img $((sector * 512 + 48)) "$type"
        done <<'MAP'
4 1 3 Apple_partition_map
8 512 7424 Apple_HFS
12 7936 8448 Apple_Free
MAP
        ;;
    # A bare FAT volume: its boot sector ends in 55 AA too.
    fat) truncate -s 32M fat.img; mkfs.fat -F 16 fat.img >/dev/null ;;
    *) echo "make-fixtures.sh: unknown fixture '$1'" >&2; exit 2 ;;
    esac
}

for name in "$@"; do
    need "$name"
done
