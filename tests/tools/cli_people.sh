#!/usr/bin/env bash
# vantrel-cli as people meet it, on images made by mkfs.fat/mtools, mkntfs
# and xorriso: standard error free of engine diagnostics (they go to the log
# in the state folder), the --progress=lines form, one message in words per
# failure with its exit status, bare volumes found without --offset, nothing
# ever written onto the source, and the redrawn progress line on a terminal.
set -uo pipefail
CLI=$1
MANPAGE=${2:-}
work=$(mktemp -d)
mounts=()
loops=()
cleanup() {
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null; done
    for l in "${loops[@]}"; do losetup -d "$l" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
cd "$work" || exit 1
failures=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
skip() { echo "skip: $*"; }

# Nothing may land in the real home: the log goes to the state folder here.
unset VANTREL_WORK_DIR
export HOME=$work/home XDG_STATE_HOME=$work/state MTOOLS_SKIP_CHECK=1 SOURCE_DATE_EPOCH=1600000000
mkdir -p "$HOME"
LOG=$XDG_STATE_HOME/vantrel-data-recovery/sMAC_iKolm.log

# --- images -----------------------------------------------------------------
mkdir -p src/docs
seq 1 3000 > src/docs/report.txt
printf 'hello\n' > src/hello.txt
seq 5000 25000 > src/gone.txt
truncate -s 16M fat.img
mkfs.fat -F 16 -n PEOPLE --invariant fat.img >/dev/null 2>&1 || { echo "mkfs.fat failed"; exit 1; }
mmd -i fat.img ::/docs && mcopy -m -i fat.img src/docs/report.txt ::/docs/ &&
    mcopy -m -i fat.img src/hello.txt src/gone.txt ::/ && mdel -i fat.img ::/gone.txt || { echo "mtools failed"; exit 1; }
# The same volume behind an MBR partition table.
truncate -s 20M disk.img
printf 'label: dos\nlabel-id: 0x5eed0002\nstart=2048, size=32768, type=6\n' | sfdisk -q disk.img
dd if=fat.img of=disk.img bs=512 seek=2048 conv=notrunc status=none
truncate -s 8M ntfs.img
mkntfs -q -F -Q -L PEOPLE ntfs.img >/dev/null 2>&1 && ntfscp ntfs.img src/hello.txt hello.txt >/dev/null 2>&1 ||
    { echo "mkntfs/ntfscp failed"; exit 1; }
# xorriso writes an HFS+ tree behind an Apple partition map; its entry cut
# out is a bare HFS+ volume.
mkdir -p iso/docs && printf 'on hfs\n' > iso/docs/a.txt && printf 'second\n' > iso/b.txt
xorriso -no_rc -as mkisofs -hfsplus -o hybrid.iso iso >/dev/null 2>&1 || { echo "xorriso failed"; exit 1; }
read -r start count < <("$CLI" parts hybrid.iso 2>/dev/null | awk -F'\t' '$4 == "Apple_HFS" { print $2, $3 }')
dd if=hybrid.iso of=hfs.img bs=512 skip="${start:-0}" count="${count:-0}" status=none
: > empty.img
mkdir -p afolder
sums_before=$(sha256sum fat.img disk.img ntfs.img hfs.img hybrid.iso)

# --- quiet by default, the log in the state folder ---------------------------
# Lines vantrel-cli itself writes on standard error.
ours='^(progress (reading|recovering) [0-9]+ [0-9]+ [0-9]+ [0-9]+|found .*|skipped .*|[0-9]+ trees? on .*|recovered [0-9]+ files?.*|  [0-9]+ files? .*|saved [0-9]+ trees .*|vantrel-cli: .*)$'
"$CLI" scan --quick --volume 1 --list disk.img > plain.out 2> plain.err
rc=$?
[ "$rc" -eq 0 ] && ok "plain scan exits 0" || fail "plain scan exited $rc"
if grep -Evq "$ours" plain.err; then
    fail "plain scan's standard error holds other lines:"; grep -Ev "$ours" plain.err | head -5
else
    ok "plain scan's standard error holds only progress, summary and messages"
fi
grep -q 'CDirectoryTreeBuilder' plain.err plain.out && fail "engine diagnostic on the terminal" || ok "no engine diagnostic"
grep -q '^found FAT "PEOPLE" on volume 1 of disk.img (sector 2048, .*): 3 files, 1 folder, 1 deleted$' plain.err &&
    ok "summary names tree, volume and counts" || { fail "summary"; cat plain.err; }
[ -f "$LOG" ] && grep -q 'CDirectoryTreeBuilder' "$LOG" && ok "diagnostics are in $LOG" || fail "no diagnostics in the state folder's log"
[ -z "$(find "$HOME" -type f)" ] && ok "nothing written into the home" || fail "files in the home: $(find "$HOME" -type f)"
"$CLI" scan --quick --volume 1 --verbose disk.img > verbose.out 2> verbose.err
grep -q 'CDirectoryTreeBuilder' verbose.err && ok "--verbose shows the diagnostics" || fail "--verbose shows no diagnostic"
[ ! -s verbose.out ] && ok "--verbose keeps standard output clean" || fail "--verbose wrote on standard output"
"$CLI" scan --quick --volume 1 --quiet disk.img > quiet.out 2> quiet.err
[ ! -s quiet.err ] && ok "--quiet prints nothing" || { fail "--quiet printed"; cat quiet.err; }
"$CLI" devices > /dev/null 2> devices.err
grep -q 'open failed' devices.err && fail "devices prints open failures" || ok "devices prints no open failure"

# --- progress lines ----------------------------------------------------------
# Per phase: PERCENT and BYTES_DONE never go back, the last is 100 with
# BYTES_DONE = BYTES_TOTAL.
check_progress() {
    awk -v what="$1" '
        $1 != "progress" { next }
        NF != 6 { print what ": malformed: " $0; bad = 1; next }
        {
            if (($2 in pct) && ($3 < pct[$2] || $4 < done[$2])) { print what ": goes back: " $0; bad = 1 }
            pct[$2] = $3; done[$2] = $4; total[$2] = $5; seen = 1
        }
        END {
            if (!seen) { print what ": no progress line"; exit 1 }
            for (p in pct) if (pct[p] != 100 || done[p] != total[p]) { print what ": " p " ends at " pct[p]; bad = 1 }
            exit bad
        }' "$2"
}
"$CLI" scan --deep --progress=lines disk.img > /dev/null 2> deep.err
check_progress "deep scan" deep.err && ok "deep scan progress is monotonic and ends at 100" || fail "deep scan progress"
"$CLI" scan --quick --volume 1 --recover out1 --progress=lines disk.img > /dev/null 2> rec.err
check_progress "recovery" rec.err && ok "recovery progress is monotonic and ends at 100" || fail "recovery progress"
grep -q '^progress recovering 100 ' rec.err && ok "recovery has its phase" || fail "no recovering phase"
grep -q '^recovered 3 files, 0 failed' rec.err && ok "recovery summary" || { fail "recovery summary"; tail -3 rec.err; }
[ -n "$(find out1 -iname 'hello.txt' -exec cmp -s {} src/hello.txt \; -print)" ] &&
    ok "hello.txt recovered" || fail "hello.txt not recovered"

# --- one message in words per failure ----------------------------------------
# expect_one STATUS "WORDS" ARGS...: exactly one line on standard error,
# holding WORDS.
expect_one() {
    local want=$1 words=$2; shift 2
    "$CLI" "$@" > one.out 2> one.err
    local rc=$? lines
    lines=$(wc -l < one.err)
    if [ "$rc" -ne "$want" ] || [ "$lines" -ne 1 ] || ! grep -qF -- "$words" one.err; then
        fail "vantrel-cli $*: exit $rc (want $want), $lines lines (want 1), wanted '$words':"; cat one.err
    else
        ok "vantrel-cli $* -> $rc: $(cat one.err)"
    fi
}
expect_one 1 "No such file or directory" scan --quick "$work/missing.img"
expect_one 1 "is a folder" scan --quick afolder
expect_one 1 "is empty" scan --quick empty.img
expect_one 1 "no partition table, so no volume 1" scan --quick --volume 1 hfs.img
expect_one 1 "no partition-table entry 3" scan --quick --volume 3 disk.img
expect_one 1 "cannot make the folder" scan --quick --volume 1 --recover /proc/nope/out disk.img
expect_one 1 "is the scanned source itself" scan --quick --volume 1 --save disk.img disk.img
ln -s disk.img link.img
expect_one 1 "is the scanned source itself" scan --quick --volume 1 --save link.img disk.img
expect_one 1 "inside the scanned source" scan --quick --volume 1 --recover disk.img/out disk.img
"$CLI" scan --quick --volume 1 --quiet --save saved.rsf disk.img 2>/dev/null
expect_one 1 "is the scanned source itself" load --recover disk.img saved.rsf disk.img
"$CLI" scan --quick --bogus disk.img > one.out 2> one.err
rc=$?
[ "$rc" -eq 2 ] && head -n 1 one.err | grep -q "unknown option '--bogus'" && ok "usage error exits 2 naming the option" ||
    { fail "usage error: exit $rc"; cat one.err; }

# A destination that takes no file, and one that fills up: a read-only and a
# tiny tmpfs where the machine lets us mount them.
if [ "$(id -u)" -eq 0 ] && mkdir -p ro full && mount -t tmpfs -o ro,size=1m tmpfs ro 2>/dev/null; then
    mounts+=("$work/ro")
    expect_one 1 "Read-only file system" scan --quick --volume 1 --recover ro/out disk.img
    if mount -t tmpfs -o size=12k tmpfs full 2>/dev/null; then
        mounts+=("$work/full")
        "$CLI" scan --quick --volume 1 --recover full/out disk.img > full.out 2> full.err
        rc=$?
        if [ "$rc" -eq 1 ] && grep -Eq '^  [0-9]+ files? not written: No space left on device$' full.err; then
            ok "full destination: $(grep -E '^(recovered|  )' full.err | tr '\n' ' ')"
        else
            fail "full destination: exit $rc"; cat full.err
        fi
    else
        skip "no tiny tmpfs for the full destination"
    fi
elif [ "$(id -u)" -ne 0 ]; then
    mkdir -p locked && chmod 555 locked
    expect_one 1 "Permission denied" scan --quick --volume 1 --recover locked/out disk.img
    skip "not root: no tiny tmpfs for the full destination"
else
    skip "tmpfs cannot be mounted: unwritable and full destinations"
fi

# A scanned block device: nothing goes onto a file system on it, nor into
# the file behind a loop device.
if [ "$(id -u)" -eq 0 ] && truncate -s 4M e2.img && mkfs.ext2 -q -F e2.img 2>/dev/null &&
    loop=$(losetup -f --show e2.img 2>/dev/null); then
    loops+=("$loop")
    mkdir -p e2
    e2sum=$(sha256sum < e2.img)
    expect_one 1 "is the file behind the scanned device" scan --deep --save e2.img "$loop"
    [ "$(sha256sum < e2.img)" = "$e2sum" ] && ok "loop-backed image unchanged" || fail "loop-backed image changed"
    if mount "$loop" e2 2>/dev/null; then
        mounts+=("$work/e2")
        expect_one 1 "is on the scanned device" scan --deep --recover e2/out "$loop"
        expect_one 1 "is on the scanned device" scan --deep --save e2/r.rsf "$loop"
        umount e2 && mounts=("${mounts[@]/$work\/e2/}")
    else
        skip "cannot mount the loop device"
    fi
else
    skip "not root or no loop device: block-device sources"
fi

# --- volumes found by themselves ---------------------------------------------
for case in "fat.img:^32	/hello.txt	" "hfs.img:^31	/docs/a.txt	" "disk.img:^32	/docs/report.txt	" \
    "ntfs.img:^35	/hello.txt	"; do
    img=${case%%:*} want=${case#*:}
    "$CLI" scan --quick --list "$img" > auto.out 2> auto.err
    rc=$?
    if [ "$rc" -eq 0 ] && grep -iq "$want" auto.out; then ok "scan --quick $img lists without --offset"; else
        fail "scan --quick $img: exit $rc"; cat auto.err; fi
done
expect_one 1 "unsupported by the quick scan" scan --quick --quiet hybrid.iso --volume 2

# --- help and manual -----------------------------------------------------------
"$CLI" --help > help.txt 2>&1
for word in devices parts read scan load --quick --deep --deep-disk --volume --offset --sector-size --types \
    --list --recover --deleted-only --save --progress=lines --verbose --quiet "Exit status" \
    "progress PHASE PERCENT BYTES_DONE BYTES_TOTAL FILES" "TREE PATH SIZE DELETED IS_DIR CREATED MODIFIED"; do
    grep -qF -- "$word" help.txt || fail "--help lacks '$word'"
done
ok "--help lists commands, options, formats and exit codes"
if [ -n "$MANPAGE" ]; then
    for word in devices parts read scan load quick deep-disk volume offset sector-size types list recover \
        deleted-only save progress=lines verbose quiet "EXIT STATUS" "PHASE PERCENT BYTES_DONE BYTES_TOTAL FILES"; do
        grep -F -- "$word" "$MANPAGE" | grep -q . || grep -qF -- "${word//-/\\-}" "$MANPAGE" || fail "manual lacks '$word'"
    done
    ok "the manual lists commands, options, formats and exit codes"
fi

# --- the redrawn line on a terminal ---------------------------------------------
if command -v script > /dev/null; then
    start_s=$(date +%s.%N)
    script -q -e -c "'$CLI' scan --deep disk.img" /dev/null > tty.raw 2>&1 < /dev/null
    end_s=$(date +%s.%N)
    redraws=$(grep -o $'\r\033\[K' tty.raw | wc -l)
    limit=$(awk -v a="$start_s" -v b="$end_s" 'BEGIN { printf "%d", (b - a) * 10 + 4 }')
    if grep -q 'progress reading' tty.raw; then fail "terminal shows progress lines"; else ok "no progress lines on a terminal"; fi
    [ "$redraws" -ge 2 ] && ok "the line is redrawn in place ($redraws times)" || fail "no redraw: $(od -c tty.raw | head)"
    [ "$redraws" -le "$limit" ] && ok "at most 10 redraws a second" || fail "$redraws redraws in a run allowing $limit"
    # The line is cleared before the summary.
    grep -q $'\r\033\[Kfound FAT' tty.raw && ok "the line is cleared before the summary" || fail "line not cleared"
else
    skip "no script(1) for a pseudo-terminal"
fi

[ "$(sha256sum fat.img disk.img ntfs.img hfs.img hybrid.iso)" = "$sums_before" ] && ok "images unchanged" ||
    fail "an image changed"
echo "$failures failed"
[ "$failures" -eq 0 ]
