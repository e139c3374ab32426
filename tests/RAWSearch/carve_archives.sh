#!/usr/bin/env bash
# The real vantrel-cli carves archives out of images made by plant_image.py:
# gzip (named by the file name it stores, else by its sectors), tar (with
# folders and empty members, in 512- and 4096-byte sectors; every member
# header inside the archive starts no file of its own), cabinet files
# from gcab, and RAR, LHA and StuffIt archives crafted byte by byte (no free
# tool writes them); copies across 4 MiB block boundaries, damaged copies
# without a crash or hang, and no image ever changes.
# Usage: carve_archives.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when gzip, tar or gcab is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
TOOLS=$R/tests/tools
CHECK="python3 $R/tests/RAWSearch/check_raw_carve.py"
for t in gzip tar gcab; do command -v $t > /dev/null || { echo "needs $t"; exit 77; }; done
W=${KEEP_DIR:-$(mktemp -d)}
[ -n "${KEEP_DIR:-}" ] || trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
. "$R/tests/RAWSearch/carve_family_lib.sh"
. "$R/tests/fixtures/fixture_clock.sh"

# ---- fixtures -----------------------------------------------------------------
mkdir -p f src/tree/sub f/absent
: > expect
expect() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >> expect; }
seq 1 30000 > src/numbers.txt
fixture_random noise 200000 > src/noise.bin
python3 -c 'import random;r=random.Random(3);open("src/big.bin","wb").write(r.randbytes(5000000))'
cp src/numbers.txt src/tree/sub/a.txt; : > src/tree/empty.txt; seq 5 900 > src/tree/b.txt
fixture_touch src

# gzip: the stored name names the file; without one (-n) the sectors do.
# The stream ends in its 32-bit length, whose zero high bytes run into the
# gap: the file is taken up to the zero bytes that may belong to it.
(cd src && gzip -9 -c numbers.txt > ../f/numbers.txt.gz)
(cd src && gzip -n -c noise.bin > ../f/noname.gz)
(cd src && gzip -1 -c big.bin > ../f/big.gz)
expect numbers.txt.gz GZ padded 34/gz 'numbers\.txt'
expect noname.gz GZ padded 34/gz '{A}-[0-9]+'
expect big.gz GZ padded 34/gz 'big\.bin'
# tar, one block a record: a folder and an empty file are members, not the
# end; the file ends after its two end blocks, or with the zeros that may be
# the padding of a 10 KiB record.
(cd src && tar -b 1 -cf ../f/tree.tar tree numbers.txt)
expect tree.tar TAR record 34/tar '{A}-[0-9]+'
# tar's usual 10 KiB records: the carved file ends with the record.
(cd src && tar -cf ../f/records.tar tree)
expect records.tar TAR exact 34/tar '{A}-[0-9]+'
# Cabinets state their size.
(cd src && gcab -c ../f/plain.cab numbers.txt noise.bin > /dev/null && gcab -c -z ../f/zip.cab tree/b.txt numbers.txt > /dev/null)
expect plain.cab CAB exact 34/cab '[0-9A-Za-z_-]*'
expect zip.cab CAB exact 34/cab '[0-9A-Za-z_-]*'
# Crafted: RAR 4 (main, two file blocks, end block: the search takes 8
# bytes past the end block), LHA level 0 (ends with its zero byte),
# StuffIt 5 (sized by its header) and StuffIt X (ends after its end record).
python3 - f <<'PY'
import random, struct, sys
out = sys.argv[1]
rng = random.Random(8)
def body(n):
    return bytes(rng.randrange(1, 256) for _ in range(n))
rar = bytearray(b"Rar!\x1a\x07\x00")
rar += b"\x90\xcf\x73\x00\x00\x0d\x00" + b"\x00" * 6
for name, size in ((b"one.bin", 70000), (b"two.txt", 3001)):
    head = 32 + len(name)
    rar += struct.pack("<HBHHIIBIIBBH", 0x1234, 0x74, 0x8000, head, size, size, 2, 0, 0, 29, 0x30, len(name))
    rar += struct.pack("<I", 0x20) + name + body(size)
rar += b"\xc4\x3d\x7b\x00\x40\x07\x00"
open(out + "/crafted.rar", "wb").write(rar)
lzh = bytearray()
for name, size in ((b"a.txt", 5000), (b"bb.bin", 40000), (b"c", 17)):
    h = 22 + len(name)
    hdr = bytes([h, 0]) + b"-lh0-" + struct.pack("<IIIBB", size, size, 0x5a5a5a5a, 0x20, 0) + bytes([len(name)]) + name + b"\x11\x22"
    lzh += hdr + body(size)
lzh += b"\x00"
open(out + "/crafted.lzh", "wb").write(lzh)
sit = bytearray(b"StuffIt (c)1997-2002 Aladdin Systems, Inc., http://www.aladdinsys.com/StuffIt/\r\n")
sit = sit.ljust(84, b"\x1a")
total = 60000
sit += struct.pack(">I", total) + body(total - 88)
open(out + "/classic.sit", "wb").write(sit)
sitx = b"StuffIt!" + body(90000) + b"\x02\xd7\x0a\x19\x98\xf6\x42\x88" + body(4)
open(out + "/crafted.sitx", "wb").write(sitx)
PY
expect crafted.rar RAR padded 34/rar '{A}-[0-9]+'
expect crafted.lzh LZH exact 34/lzh '{A}-[0-9]+'
expect classic.sit SIT exact 34/sit '{A}-[0-9]+'
expect crafted.sitx SITX padded 34/sitx '{A}-[0-9]+'
# Must not be carved: a cabinet header whose reserved field is not zero.
cp f/plain.cab f/absent/reserved.cab
printf '\001' | dd of=f/absent/reserved.cab bs=1 seek=4 conv=notrunc status=none

GOOD=$(ls f/*.gz f/*.tar f/*.cab f/*.rar f/*.lzh f/*.sit f/*.sitx)
plant zero.img --gap zero:65536 $GOOD f/absent/*
plant s512.img --align 512 --straddle 4194304:8 --gap zero:0 f/big.gz f/tree.tar f/crafted.rar f/crafted.lzh
plant s4k.img --straddle 4194304:8 --gap zero:4096 f/numbers.txt.gz f/tree.tar f/plain.cab f/crafted.sitx
plant end.img --end f/zip.cab
# Random bytes around the formats whose structure names their end: the
# carve may take what follows the end mark (tar, RAR), never less.
RANDOM_OK="f/tree.tar f/plain.cab f/crafted.rar f/crafted.lzh f/classic.sit"
plant random.img --gap random:4096 --seed 5 $RANDOM_OK
awk -F'\t' -v OFS='\t' '$1 ~ /^(tree\.tar|plain\.cab|crafted\.rar|crafted\.lzh|classic\.sit)$/ {
    if ($3 != "exact") $3 = "starts"; print }' expect > expect-random

for ss in 512 4096; do
    for img in zero.img end.img; do
        scan $img $ss
        check "$img at $ss" $CHECK $img "$out" "$out.list" expect $ss tar
    done
    # What comes back opens with the archive tools.
    scan zero.img $ss
    while IFS= read -r -d '' file; do
        case "$file" in
        *.GZ) gzip -t "$file" 2> /dev/null || fail "gzip -t $file at $ss" ;;
        *.TAR) tar -tf "$file" > /dev/null 2>&1 || fail "tar -tf $file at $ss" ;;
        *.CAB) gcab -t "$file" > /dev/null 2>&1 || fail "gcab -t $file at $ss" ;;
        esac
    done < <(find "$out" -type f -print0)
done
for ss in 512 4096; do
    scan random.img $ss
    # Gaps of random bytes may hold what looks like a start of something.
    check "random.img at $ss" $CHECK random.img "$out" "$out.list" expect-random $ss tar --allow-extra
done
scan s512.img 512
check "s512.img at 512" $CHECK s512.img "$out" "$out.list" expect 512 tar
scan s4k.img 4096
check "s4k.img at 4096" $CHECK s4k.img "$out" "$out.list" expect 4096 tar

# Damaged copies: fewer files, never a crash, a hang or a file past the
# image's end.
damaged 13 32M $GOOD

echo "$failures failures"
[ "$failures" -eq 0 ]
