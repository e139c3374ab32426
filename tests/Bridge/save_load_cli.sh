#!/usr/bin/env bash
# The real vantrel-cli saves a scan of a FAT16 volume inside an MBR disk
# image and loads it back: for each scan mode the loaded listing equals the
# scan's, the loaded files recover to the original bytes, and the image is
# unchanged. Then damaged and foreign scan-result files: every one ends with a
# clear message and exit status 1, never a crash or a hang.
# Usage: save_load_cli.sh VANTREL_CLI
set -uo pipefail
CLI=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
export MTOOLS_SKIP_CHECK=1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

truncate -s 20M disk.img
printf 'label: dos\nstart=2048,type=6\n' | sfdisk -q disk.img
mkfs.fat -F 16 -n SAVEVOL --offset 2048 disk.img 16384 >/dev/null 2>&1
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
data() { fixture_random "$1" "$2"; }
for f in A:300000 B:700000 C:200000 D:3145728 E:50000; do data "${f%:*}" "${f#*:}" > "${f%:*}.bin"; done
mmd -i disk.img@@1M ::/DIR1
mcopy -m -i disk.img@@1M A.bin ::/DIR1/
mcopy -m -i disk.img@@1M B.bin C.bin ::/
mdel -i disk.img@@1M ::/B.bin
mcopy -m -i disk.img@@1M D.bin ::/DIR1/
mcopy -m -i disk.img@@1M E.bin ::/
mdel -i disk.img@@1M ::/E.bin
digest=$(sha256sum < disk.img)

for mode in "--quick --volume 1" "--deep --volume 1" "--deep-disk" "--quick --offset 2048"; do
    rm -rf S L
    # shellcheck disable=SC2086
    "$CLI" scan $mode --list --save r.rsf --recover S disk.img > scan.txt 2> scan.err
    rc=$?
    [ "$rc" -eq 0 ] || { fail "$mode: scan exited $rc"; tail -n 5 scan.err; continue; }
    "$CLI" load r.rsf disk.img --list --recover L > load.txt 2> load.err
    rc=$?
    [ "$rc" -eq 0 ] || { fail "$mode: load exited $rc"; tail -n 5 load.err; continue; }
    if [ -s scan.txt ] && diff <(sort scan.txt) <(sort load.txt) > /dev/null; then
        ok "$mode: the load lists the scan's $(wc -l < scan.txt) entries"
    else
        fail "$mode: listings differ"; diff <(sort scan.txt) <(sort load.txt) | head
    fi
    diff -r S L > /dev/null && ok "$mode: the same files recovered" || fail "$mode: recovered files differ"
    for pair in DIR1/A.bin:A.bin DIR1/D.bin:D.bin C.bin:C.bin; do
        got=$(find L -ipath "*/${pair%%:*}" | head -n 1)
        [ -n "$got" ] && cmp -s "$got" "${pair#*:}" && ok "$mode: ${pair%%:*} recovered from the load" ||
            fail "$mode: ${pair%%:*} missing or different after the load"
    done
done

# A foreign device: the saved volume is not on it.
truncate -s 20M other.img
"$CLI" load r.rsf other.img > /dev/null 2> err.txt
rc=$?
[ "$rc" -eq 1 ] && grep -q "(code 6)" err.txt && ok "foreign device refused" || fail "foreign device: exit $rc"

# A save that cannot be written says so.
if [ -w /dev/full ]; then
    "$CLI" scan --quick --volume 1 --save /dev/full disk.img > /dev/null 2> err.txt
    rc=$?
    [ "$rc" -eq 1 ] && grep -q "cannot write the scan result" err.txt && ok "full disk reported" ||
        fail "save to a full disk: exit $rc"
fi

# Damaged files: a spread of cuts, flipped bytes and 0xFF runs (the unit
# tests try every offset in one process; here each try is a whole program).
"$CLI" scan --quick --volume 1 --save good.rsf disk.img > /dev/null 2>&1
[ -s good.rsf ] || { fail "no scan result saved"; echo "$failures failed"; exit 1; }
size=$(stat -c %s good.rsf)
bad=0
check() {   # check WHAT: load bad.rsf; 0 or 1 only, within the time limit
    timeout 30 "$CLI" load bad.rsf disk.img --list > /dev/null 2> err.txt
    local rc=$?
    if [ "$rc" -gt 1 ]; then
        fail "$1: exit status $rc"; bad=$((bad + 1))
    elif [ "$rc" -eq 1 ] && ! grep -q "^vantrel-cli: " err.txt; then
        fail "$1: no message"; bad=$((bad + 1))
    fi
}
for ((cut = 0; cut < size; cut += 37)); do
    head -c "$cut" good.rsf > bad.rsf
    check "cut at $cut"
    ! grep -q "(code" err.txt &&
        { fail "cut at $cut loaded without an error"; bad=$((bad + 1)); }
done
for ((at = 0; at < size; at += 29)); do
    python3 -c 'import sys; b=bytearray(open(sys.argv[1],"rb").read()); b[int(sys.argv[2])]^=0xFF; open(sys.argv[3],"wb").write(b)' good.rsf "$at" bad.rsf
    check "flip at $at"
    python3 -c 'import sys; b=bytearray(open(sys.argv[1],"rb").read()); i=int(sys.argv[2]); b[i:i+4]=b"\xff"*len(b[i:i+4]); open(sys.argv[3],"wb").write(b)' good.rsf "$at" bad.rsf
    check "0xFFFFFFFF at $at"
done
[ "$bad" -eq 0 ] && ok "damaged files end in a clean error"

[ "$(sha256sum < disk.img)" = "$digest" ] && ok "image unchanged" || fail "image changed"
echo "$failures failed"
[ "$failures" -eq 0 ]
