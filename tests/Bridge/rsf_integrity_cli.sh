#!/usr/bin/env bash
# Saved scan results know when they are damaged, with the real vantrel-cli:
#  - quick, deep and whole-disk results of FAT, NTFS and HFS+ disks load back
#    to the scan's listing and recover the same bytes;
#  - in every frame's payload, one byte flipped or 4 bytes set to 0xFF at 64
#    places spread over it: each copy is refused with a message and exit
#    status 1, none loads silently;
#  - results saved by a build that wrote no checksums load to the same
#    listing, reported as unverified;
#  - a save onto a full file system fails and leaves the earlier file intact.
# Usage: rsf_integrity_cli.sh VANTREL_CLI
set -uo pipefail
CLI=$(realpath "$1")
here=$(dirname "$(realpath "${BASH_SOURCE[0]}")")
work=$(mktemp -d)
cleanup() {
    mountpoint -q "$work/full" 2>/dev/null && umount "$work/full"
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }
data() { python3 -c 'import random,sys; sys.stdout.buffer.write(random.Random(sys.argv[1]).randbytes(int(sys.argv[2])))' "$1" "$2"; }

mkdir -p src
data a 70000 > src/a.bin; data b 9000 > src/b.bin; data c 300000 > src/c.bin; data g 20000 > src/gone.bin

# FAT16 in an MBR disk: a folder, files, a deleted file.
truncate -s 24M fat.img
printf 'label: dos\nstart=2048,type=6\n' | sfdisk -q fat.img
mkfs.fat -F 16 -n FATVOL --offset 2048 fat.img 20480 >/dev/null 2>&1
mmd -i fat.img@@1M ::/DIR
mcopy -m -i fat.img@@1M src/a.bin src/gone.bin ::/DIR/
mcopy -m -i fat.img@@1M src/b.bin src/c.bin ::/
mdel -i fat.img@@1M ::/DIR/gone.bin
images="fat"

# NTFS in an MBR disk, files put there without a mount.
if command -v mkntfs >/dev/null && command -v ntfscp >/dev/null; then
    truncate -s 16M ntfs-part.img
    mkntfs -F -Q -T -c 4096 -L NTFSVOL ntfs-part.img >/dev/null 2>&1
    for f in a b c; do ntfscp -f ntfs-part.img "src/$f.bin" "$f.bin" >/dev/null 2>&1; done
    truncate -s 24M ntfs.img
    printf 'label: dos\nstart=2048,size=32768,type=7\n' | sfdisk -q ntfs.img
    dd if=ntfs-part.img of=ntfs.img bs=512 seek=2048 conv=notrunc status=none
    images="$images ntfs"
else
    echo "skip: NTFS (mkntfs or ntfscp missing)"
fi

# HFS+ (the volume of a hybrid image) in an MBR disk.
if command -v xorriso >/dev/null; then
    mkdir -p hsrc/docs && cp src/a.bin hsrc/docs/ && cp src/b.bin src/c.bin hsrc/
    xorriso -as mkisofs -quiet -hfsplus -o hfs.iso hsrc 2>/dev/null
    # The volume starts a few sectors into the hybrid image; its files lie
    # anywhere after that, so the partition takes the rest of the image.
    first=$(python3 - hfs.iso <<'EOF'
import sys
data = open(sys.argv[1], 'rb').read()
print(next((s - 2 for s in range(2, len(data) // 512) if data[s * 512:s * 512 + 2] == b'H+'), ''))
EOF
)
    if [ -n "$first" ]; then
        count=$(( $(stat -c %s hfs.iso) / 512 - first ))
        truncate -s $(((2048 + count + 2048) * 512)) hfs.img
        printf 'label: dos\nstart=2048, size=%d, type=af\n' "$count" |
            sfdisk -q hfs.img >/dev/null
        dd if=hfs.iso of=hfs.img bs=512 skip="$first" seek=2048 count="$count" conv=notrunc status=none
        images="$images hfs"
    else
        echo "skip: HFS+ (no HFS+ volume in the hybrid image)"
    fi
else
    echo "skip: HFS+ (xorriso missing)"
fi

declare -A digest
for img in $images; do digest[$img]=$(sha256sum < "$img.img"); done

# Loads every damaged copy of one saved result; prints one line per copy
# that loaded without saying so.
mutate() {  # mutate RESULT IMAGE
    python3 - "$CLI" "$1" "$2" <<'EOF'
import concurrent.futures, os, struct, subprocess, sys, tempfile
cli, result, image = sys.argv[1:4]
good = open(result, 'rb').read()
frames, pos = [], 132
while pos + 36 <= len(good):
    size = struct.unpack('<I', good[pos + 32:pos + 36])[0]
    frames.append((good[pos + 16:pos + 32].hex()[:8], pos + 36, size))
    pos += 36 + size
copies = []
for ident, start, size in frames:
    places = sorted({start + i * (size - 1) // 63 for i in range(64)}) if size > 64 else range(start, start + size)
    for at in places:
        flipped = bytearray(good); flipped[at] ^= 0xFF
        copies.append((f'{ident}+{at - start} flipped', bytes(flipped)))
        ff = bytearray(good); ff[at:at + 4] = b'\xff' * len(ff[at:at + 4])
        if bytes(ff) != good:
            copies.append((f'{ident}+{at - start} 0xFF', bytes(ff)))
tmp = tempfile.mkdtemp(dir='.')
def load(job):
    n, (what, blob) = job
    path = os.path.join(tmp, f'{n}.rsf')
    open(path, 'wb').write(blob)
    try:
        p = subprocess.run([cli, 'load', path, image, '--list'], capture_output=True, timeout=30)
    except subprocess.TimeoutExpired:
        return f'{what}: hangs'
    finally:
        os.remove(path)
    err = p.stderr.decode(errors='replace')
    if p.returncode != 1 or 'vantrel-cli: ' not in err:
        return f'{what}: exit {p.returncode}, no refusal'
    return None
with concurrent.futures.ThreadPoolExecutor(4) as pool:
    bad = [r for r in pool.map(load, enumerate(copies)) if r]
os.rmdir(tmp)
print(f'{len(copies)} copies over {len(frames)} frames' + (f', {len(bad)} not refused' if bad else ''))
for line in bad[:10]:
    print('  not refused:', line)
sys.exit(1 if bad else 0)
EOF
}

for img in $images; do
    for mode in "--quick --volume 1" "--deep --volume 1" "--deep-disk"; do
        what="$img $mode"
        rm -rf S L
        # shellcheck disable=SC2086
        "$CLI" scan $mode --list --save r.rsf --recover S "$img.img" > scan.txt 2> scan.err
        rc=$?
        [ "$rc" -eq 0 ] || { fail "$what: scan exited $rc"; tail -n 3 scan.err; continue; }
        "$CLI" load r.rsf "$img.img" --list --recover L > load.txt 2> load.err
        rc=$?
        [ "$rc" -eq 0 ] || { fail "$what: load exited $rc"; tail -n 3 load.err; continue; }
        grep -q "warning" load.err && fail "$what: a sound result loads with a warning"
        if [ -s scan.txt ] && diff <(sort scan.txt) <(sort load.txt) > /dev/null; then
            ok "$what: the load lists the scan's $(wc -l < scan.txt) entries"
        else
            fail "$what: listings differ"
        fi
        diff -r S L > /dev/null && ok "$what: the same bytes recovered" || fail "$what: recovered files differ"
        for f in a b c; do
            got=$(find L -type f -iname "$f.bin" | head -n 1)
            [ -n "$got" ] && cmp -s "$got" "src/$f.bin" || fail "$what: $f.bin not recovered byte-exact"
        done
        out=$(mutate r.rsf "$img.img") && ok "$what: every damaged copy refused ($out)" ||
            fail "$what: damaged copies loaded: $out"
    done
done

# Damaged trees loaded on request: said so, never silently.
"$CLI" scan --quick --volume 1 --save r.rsf fat.img > /dev/null 2>&1
python3 -c 'import sys; b=bytearray(open("r.rsf","rb").read()); b[-150]^=0x01; open("bad.rsf","wb").write(b)'
"$CLI" load bad.rsf fat.img --list > /dev/null 2> err.txt
rc=$?
[ "$rc" -eq 1 ] && grep -q "damaged" err.txt && ok "damaged trees refused" || fail "damaged trees: exit $rc"
"$CLI" load bad.rsf fat.img --list --accept-damaged > out.txt 2> err.txt
grep -q "warning: the scan result is damaged" err.txt && ok "--accept-damaged loads with a warning" ||
    fail "--accept-damaged: no warning"

# Results saved before checksums existed.
bash "$here/fixtures/make-old-result-image.sh" old.img
for kind in quick deep; do
    rm -rf S L
    "$CLI" scan "--$kind" --volume 1 --list --recover S old.img > scan.txt 2> /dev/null
    "$CLI" load "$here/fixtures/old-$kind.rsf" old.img --list --recover L > load.txt 2> load.err
    rc=$?
    if [ "$rc" -eq 0 ] && grep -q "unverified" load.err && [ -s scan.txt ] &&
        diff <(sort scan.txt) <(sort load.txt) > /dev/null && diff -r S L > /dev/null; then
        ok "older $kind result: unverified, the same listing and bytes"
    else
        fail "older $kind result: exit $rc"; cat load.err | tail -n 3
    fi
done

# A full file system: the save fails and the earlier result stays.
mkdir -p full
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=64k tmpfs full 2> /dev/null; then
    "$CLI" scan --quick --volume 1 --save full/r.rsf fat.img > /dev/null 2>&1
    before=$(sha256sum < full/r.rsf)
    dd if=/dev/zero of=full/fill bs=4k status=none 2> /dev/null
    "$CLI" scan --deep --volume 1 --save full/r.rsf fat.img > /dev/null 2> err.txt
    rc=$?
    [ "$rc" -eq 1 ] && grep -q "cannot write the scan result" err.txt && ok "full file system reported" ||
        fail "save onto a full file system: exit $rc"
    [ "$(sha256sum < full/r.rsf)" = "$before" ] && ok "the earlier result is intact" ||
        fail "the earlier result changed"
    [ "$(ls -A full | sort | tr '\n' ' ')" = "fill r.rsf " ] || fail "left behind: $(ls -A full)"
    umount full
else
    echo "skip: full file system (mounting a tmpfs is not permitted here)"
fi

for img in $images; do
    [ "$(sha256sum < "$img.img")" = "${digest[$img]}" ] || fail "$img image changed"
done
echo "$failures failed"
[ "$failures" -eq 0 ]
