#!/usr/bin/env bash
# The real vantrel-cli finds and recovers the files of a FAT16 volume inside
# an MBR disk image: A (in DIR1), C and the fragmented D equal the originals,
# their times are the volume's creation times, and the image is unchanged.
# Usage: recover_fat.sh VANTREL_CLI MODE     (MODE: --quick, --deep, --deep-disk)
# Exits 77 (skipped) while this build has no searcher for the scan.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
CLI=$1
MODE=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

truncate -s 20M disk.img
printf 'label: dos\nstart=2048,type=6\n' | sfdisk -q disk.img
mkfs.fat -F 16 --offset 2048 disk.img 16384 >/dev/null 2>&1
for f in A:300000 B:700000 C:200000 D:3145728 E:50000; do fixture_random "${f%:*}" "${f#*:}" > "${f%:*}.bin"; done
mmd -i disk.img@@1M ::/DIR1
mcopy -m -i disk.img@@1M A.bin ::/DIR1/
mcopy -m -i disk.img@@1M B.bin C.bin ::/
mdel -i disk.img@@1M ::/B.bin
mcopy -m -i disk.img@@1M D.bin ::/DIR1/
mcopy -m -i disk.img@@1M E.bin ::/
mdel -i disk.img@@1M ::/E.bin
digest=$(md5sum < disk.img)

args=(scan "$MODE")
[ "$MODE" = "--deep-disk" ] || args+=(--volume 1)
"$CLI" "${args[@]}" --recover OUT disk.img >stdout 2>stderr
rc=$?
if grep -q "0x104005700000401" stderr; then
    echo "skipped: no searcher for this scan in this build"
    cat stderr
    exit 77
fi
[ "$rc" -eq 0 ] && ok "vantrel-cli exits 0" || { fail "vantrel-cli exited $rc"; tail -n 20 stderr; }

# The creation time istat reports for PATH, in seconds since 1970.
created() {
    local inode
    inode=$(fls -r -p -o 2048 disk.img | awk -F'\t' -v p="$1" 'tolower($2) == tolower(p) { sub(/.* /, "", $1); sub(/:$/, "", $1); print $1; exit }')
    date -u -d "$(istat -z UTC -o 2048 disk.img "$inode" | sed -n 's/^Created:\t\(.*\) (UTC)$/\1/p' | head -n 1)" +%s
}

for pair in DIR1/A.bin:A.bin DIR1/D.bin:D.bin C.bin:C.bin; do
    rel=${pair%%:*}
    want=${pair#*:}
    # Names without a long entry come back as stored: upper case.
    got=$(find OUT/Fat_0001 -ipath "OUT/Fat_0001/*/$rel" 2>/dev/null | head -n 1)
    if [ -n "$got" ] && cmp -s "$got" "$want"; then ok "$rel equals $want"; else fail "$rel missing or different"; continue; fi
    t=$(created "$rel")
    [ "$(stat -c %Y "$got")" = "$t" ] && ok "$rel time" || fail "$rel has time $(stat -c %Y "$got"), istat says $t"
done
[ "$(md5sum < disk.img)" = "$digest" ] && ok "image unchanged" || fail "image changed"
echo "$failures failed"
[ "$failures" -eq 0 ]
