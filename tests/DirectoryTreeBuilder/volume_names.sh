#!/bin/bash
# Trees and recovered folders carry the names the volumes' owners saw: a
# whole-disk deep scan of a disk of labelled FAT32, NTFS, exFAT and HFS+
# volumes names each tree after its label (and keeps the names through a
# saved and loaded result); two unlabelled NTFS volumes stay "Disk"; a FAT12
# disk is rebuilt by the deep scan under its label; lower-case 8.3 names come
# back in lower case in quick and deep scans. Images are never changed.
set -euo pipefail
cli=$(realpath "$1")
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
work=$(mktemp -d); trap 'rm -rf "$work"' EXIT
cd "$work"
export TZ=UTC LC_ALL=C.UTF-8 VANTREL_WORK_DIR="$work/state" XDG_STATE_HOME="$work/state"
fail=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then echo "FAIL: $1"; echo "  expected: $2"; echo "  actual:   $3"; fail=1; fi
}
tops() { (cd "$1" && find . -mindepth 2 -maxdepth 2 -type d | sed 's|^\./||' | sort | tr '\n' ' '); }

bash "$here/make_labelled_disk.sh" img >/dev/null
sums=$(cd img && md5sum ./*.img)

want="0001/MULTINTFS ExFat_0001/EXQUICK Fat_0001/MULTIFAT "
[ -e img/has-hfs ] && want="0001/MULTINTFS ExFat_0001/EXQUICK Fat_0001/MULTIFAT HFS+_0001/MULTIHFS "
# A deleted exFAT file of the committed image is incomplete: the run ends 1.
"$cli" scan --deep-disk --recover deep --save deep.rsf img/labelled.img >/dev/null 2>&1 || true
check "whole-disk deep scan names each tree after its volume" "$want" "$(tops deep)"
check "the FAT32 file under its label" "fat32 volume" "$(cat deep/Fat_0001/MULTIFAT/fat.txt)"
check "the NTFS file under its label" "ntfs volume" "$(cat deep/0001/MULTINTFS/ntfs.txt)"
"$cli" load deep.rsf img/labelled.img --recover loaded >/dev/null 2>&1 || true
check "a loaded result keeps the names" "$want" "$(tops loaded)"

"$cli" scan --deep-disk --recover two img/twontfs.img >/dev/null 2>&1 || true
check "unlabelled NTFS volumes stay Disk" "0001/Disk " "$(tops two)"

# FAT12: the deep scan rebuilds it by its boot sector, under its label; with
# the boot sector wiped, its files are still carved.
truncate -s 8M fat12.img; printf 'label: dos\nstart=2048, type=1\n' | sfdisk -q fat12.img
truncate -s 7M p12.img; mkfs.fat -F 12 -n MYFAT12 -i 12345678 p12.img >/dev/null
printf 'hello\n' > notes.txt; python3 -c 'import random,sys; sys.stdout.buffer.write(random.Random(7).randbytes(20000))' > DATA.BIN
printf 'bye\n' > gone.txt
python3 - <<'PY'
import random, struct, zlib
rows = b''.join(b'\0' + random.Random(3).randbytes(64 * 3) for _ in range(64))
chunk = lambda t, d: struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))
open('PIC.PNG', 'wb').write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 64, 64, 8, 2, 0, 0, 0)) +
                            chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))
PY
export MTOOLS_SKIP_CHECK=1
mcopy -m -i p12.img notes.txt DATA.BIN gone.txt PIC.PNG ::/; mmd -i p12.img ::/sub; mcopy -m -i p12.img notes.txt ::/sub/Mixed.Txt
mdel -i p12.img ::/gone.txt
dd if=p12.img of=fat12.img bs=512 seek=2048 conv=notrunc status=none
sum12=$(md5sum < fat12.img)
listing=$("$cli" scan --deep-disk --list fat12.img 2>/dev/null | awk -F'\t' '$1==32 {print $2 "|" $3 "|" $4}' | LC_ALL=C sort | tr '\n' ' ')
check "FAT12 deep listing" "/#one.txt|4|1 /DATA.BIN|20000|0 /PIC.PNG|$(stat -c %s PIC.PNG)|0 /notes.txt|6|0 /sub/Mixed.Txt|6|0 /sub|0|0 " "$listing"
"$cli" scan --deep-disk --recover r12 fat12.img >/dev/null 2>&1 || true
check "FAT12 files under the label" "Fat_0001/MYFAT12" "$(tops r12 | tr ' ' '\n' | grep '^Fat_')"
cmp -s r12/Fat_0001/MYFAT12/DATA.BIN DATA.BIN || { echo "FAIL: FAT12 DATA.BIN differs"; fail=1; }
cmp -s r12/Fat_0001/MYFAT12/sub/Mixed.Txt notes.txt || { echo "FAIL: FAT12 sub/Mixed.Txt differs"; fail=1; }
check "FAT12 image unchanged" "$sum12" "$(md5sum < fat12.img)"
cp fat12.img wiped.img; dd if=/dev/zero of=wiped.img bs=512 seek=2048 count=1 conv=notrunc status=none
wiped=$("$cli" scan --deep-disk --list wiped.img 2>/dev/null)
check "a wiped FAT12 boot sector gives no FAT tree" "0" "$(printf '%s\n' "$wiped" | awk -F'\t' '$1==32' | wc -l)"
printf '%s\n' "$wiped" | awk -F'\t' '$1==34 && $3=='"$(stat -c %s PIC.PNG)"'' | grep -q . ||
  { echo "FAIL: the picture of the wiped FAT12 disk was not carved"; fail=1; }

# Lower-case 8.3 names, live and deleted, in both scans, as fls shows them
# (the deleted one with its first letter lost).
want_names="#one.txt a-text.pdf debian.mp3 docs docs/readme.txt Mixed.Txt notes.txt "
for mode in --quick --deep; do
  got=$("$cli" scan $mode --offset 0 --list img/fatcase.img 2>/dev/null | awk -F'\t' '$1==32 {print substr($2,2)}' | LC_ALL=C sort -f | tr '\n' ' ')
  check "case flags ($mode)" "$want_names" "$got"
done
"$cli" scan --quick --offset 0 --recover rc img/fatcase.img >/dev/null 2>&1 || true
[ -n "$(find rc -name notes.txt)" ] && [ -n "$(find rc -name debian.mp3)" ] || { echo "FAIL: recovered names not lower case"; fail=1; }

check "images unchanged" "$sums" "$(cd img && md5sum ./*.img)"
[ $fail -eq 0 ] && echo "volume names: all checks passed"
exit $fail
