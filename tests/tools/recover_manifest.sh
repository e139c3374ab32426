#!/usr/bin/env bash
# vantrel-cli scan --recover end to end, with the manifest searcher standing in
# for the FAT searcher: a FAT16 volume with a fragmented and a deleted file,
# then a hand-written manifest of hostile names over the same data.
# Usage: recover_manifest.sh VANTREL_CLI_MANIFEST TSK2MANIFEST
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
CLI=$1
TSK2MANIFEST=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

cd "$work" || exit 1
mkdir scratch && cd scratch || exit 1
mkfs.fat -F 16 -C fat16.img 16384 >/dev/null
for f in A:300000 B:700000 C:200000 D:3145728 E:50000; do fixture_random "${f%:*}" "${f#*:}" > "${f%:*}.bin"; done
mmd -i fat16.img ::/DIR1
mcopy -m -i fat16.img A.bin ::/DIR1/
mcopy -m -i fat16.img B.bin C.bin ::/
mdel -i fat16.img ::/B.bin
mcopy -m -i fat16.img D.bin ::/DIR1/     # fills B's hole, then continues after C
mcopy -m -i fat16.img E.bin ::/
mdel -i fat16.img ::/E.bin               # deleted, data intact
python3 "$TSK2MANIFEST" fat16.img > fat16.tsv || { echo "tsk2manifest failed"; exit 1; }
digest=$(md5sum < fat16.img)

# run OUT [options]: scan --deep --recover OUT with the manifest in $MANIFEST.
run() {
    local out=$1; shift
    VANTREL_MANIFEST=$MANIFEST "$CLI" scan --deep --recover "$out" "$@" fat16.img >"$work/stdout" 2>"$work/stderr"
}

# The manifest's creation time of NAME in whole seconds since 1970.
ctime_of() { awk -F'\t' -v n="$1" '$10 == n { print int($6 / 10000000) - 11644473600; exit }' fat16.tsv; }

MANIFEST=fat16.tsv
if run OUT; then ok "first run exits 0"; else fail "first run exited $?"; cat "$work/stderr"; fi
grep -q "^recovered 4 files, 0 failed" "$work/stderr" || { fail "summary line"; tail -n 3 "$work/stderr"; }
for pair in DIR1/A.bin:A.bin DIR1/D.bin:D.bin C.bin:C.bin _.bin:E.bin; do
    got=OUT/Fat_0001/Disk/${pair%%:*}
    want=${pair#*:}
    if cmp -s "$got" "$want"; then ok "$got equals $want"; else fail "$got differs from $want"; fi
    name=$(basename "$got")
    [ "$(stat -c %Y "$got")" = "$(ctime_of "$name")" ] && ok "$got time" || fail "$got has time $(stat -c %Y "$got"), not $(ctime_of "$name")"
done
[ "$(stat -c %Y OUT/Fat_0001/Disk/DIR1)" = "$(ctime_of DIR1)" ] && ok "DIR1 time" || fail "DIR1 time"

if run OUT && [ -f OUT/Fat_0002/Disk/C.bin ]; then ok "second run writes Fat_0002"; else fail "second run"; fi
if run DELETED --deleted-only; then
    files=$(cd DELETED && find . -type f | sort | tr '\n' ' ')
    [ "$files" = "./Fat_0001/Disk/_.bin " ] && ok "--deleted-only" || fail "--deleted-only wrote: $files"
else
    fail "--deleted-only run exited $?"
fi
[ "$(md5sum < fat16.img)" = "$digest" ] && ok "image unchanged" || fail "image changed"

# Hostile names over A.bin's data.
a_line=$(awk -F'\t' '$10 == "A.bin"' fat16.tsv)
IFS=$'\t' read -r _ _ _ _ a_size a_c a_m a_a _ _ a_runs <<<"$a_line"
long=$(python3 -c 'print("\u00e9" * 200 + ".txt")')
{
    head -n 1 fat16.tsv
    printf '9001\t2\t0\t0\t%s\t%s\t%s\t%s\t0\t%s\t%s\n' "$a_size" "$a_c" "$a_m" "$a_a" "x/../../../escape.txt" "$a_runs"
    printf '9002\t2\t0\t0\t%s\t%s\t%s\t%s\t0\t%s\t%s\n' "$a_size" "$a_c" "$a_m" "$a_a" "a/b.txt" "$a_runs"
    printf '9003\t2\t1\t0\t0\t%s\t%s\t%s\t0\t..\t\n' "$a_c" "$a_m" "$a_a"
    printf '9004\t9003\t0\t0\t%s\t%s\t%s\t%s\t0\tinner.bin\t%s\n' "$a_size" "$a_c" "$a_m" "$a_a" "$a_runs"
    printf '9005\t2\t0\t0\t%s\t%s\t%s\t%s\t0\t%s\t%s\n' "$a_size" "$a_c" "$a_m" "$a_a" "$long" "$a_runs"
} > hostile.tsv
before=$(cd "$work" && find . -path ./scratch/HOSTILE -prune -o -print | sort)
MANIFEST=hostile.tsv
if run HOSTILE; then ok "hostile run exits 0"; else fail "hostile run exited $?"; cat "$work/stderr"; fi
after=$(cd "$work" && find . -path ./scratch/HOSTILE -prune -o -print | sort)
if [ "$before" = "$after" ]; then ok "nothing written outside OUT"; else
    fail "written outside OUT:"; diff <(echo "$before") <(echo "$after"); fi
for f in "x_.._.._.._escape.txt" "a_b.txt" "_/inner.bin"; do
    if cmp -s "HOSTILE/Fat_0001/Disk/$f" A.bin; then ok "$f equals A.bin"; else fail "$f missing or different"; fi
done
longest=$(cd HOSTILE/Fat_0001/Disk && for n in *.txt; do echo "$(printf %s "$n" | wc -c) $n"; done | sort -n | tail -n 1)
long_len=${longest%% *}
long_name=${longest#* }
if [ -n "$longest" ] && [ "$long_len" -le 255 ] && [ "${long_name: -4}" = ".txt" ] && [ "$long_len" -gt 200 ] &&
    cmp -s "HOSTILE/Fat_0001/Disk/$long_name" A.bin; then
    ok "long name cut to $long_len bytes"
else
    fail "long name: '$longest'"
fi
count=$(find HOSTILE -type f | wc -l)
[ "$count" -eq 4 ] && ok "four hostile files" || fail "$count files below HOSTILE"
[ "$(md5sum < fat16.img)" = "$digest" ] && ok "image unchanged" || fail "image changed"

echo "$failures failed"
[ "$failures" -eq 0 ]
