#!/usr/bin/env bash
# The real vantrel-cli carves documents made by the office suite and zip out
# of images made by plant_image.py: compound files and ZIP-based documents
# come back exact (in zero, random and 0xFF surroundings, across 4 MiB
# block boundaries), office documents are named and labelled from their own
# properties, RTF and HTML pages come back whole with only zero bytes after
# them, damaged copies cost no crash or hang, and no image changes.
# Usage: carve_docs.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when the office suite or zip is missing.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/carve_common.sh"

bash "$R/tests/RAWSearch/make_docs.sh" "$W/d" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
D=$W/d
# Sized from their own structures: exact whatever follows them.
WALKED="$D/office/t.doc $D/office/t.xls $D/office/t.ppt $D/office/r.docx $D/office/r.xlsx $D/office/r.pptx
        $D/zip/stored.zip $D/zip/deflated.zip $D/zip/stream.zip $D/zip/app.ipa"
# Sizes in data descriptors: the end record is found where zero padding
# follows the archive.
PADDED="$D/office/t.docx $D/office/t.xlsx $D/office/t.pptx $D/office/t.odt $D/office/t.ods $D/office/t.odp"
TEXT="$D/text/t.rtf $D/text/t.html $D/text/u.htm"
plant zero.img --gap zero:65536 $WALKED $PADDED
plant random.img --gap random:4096 --seed 3 $WALKED
plant ff.img --gap ff:4096 $WALKED
plant s512.img --align 512 --straddle 4194304:4 --gap zero:0 $WALKED
plant s4k.img --straddle 4194304:4 --gap zero:0 $WALKED
plant text.img --gap zero:65536 $TEXT

carve_check() {
    local img=$1 ss=$2
    local out=$W/out-${img%.img}-$ss
    carve_scan "$img" "$ss" "$out"
    check "$img at $ss" python3 "$TOOLS/check_carve.py" "$img" "$out" --list "$out.list"
}

for ss in 512 4096; do
    carve_check zero.img $ss
    carve_check random.img $ss
    carve_check ff.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# Office documents are named from their properties and filed under their
# last author, by kind.
for ss in 512 4096; do
    list=$W/out-zero-$ss.list
    for want in "/Office/Word/Bob Editor/Bob Editor_Quarterly Report_2021-03-04 05-06-07000.DOCX" \
                "/Office/Excel/Dave Ledger/Dave Ledger_Budget Sheet_2022-07-08 09-10-11000.XLSX" \
                "/Office/PowerPoint/Frank Slides/Frank Slides_Launch Deck_2023-10-11 12-13-14000.PPTX" \
                "/Office/PowerPoint/Frank Slides/Frank Slides_Launch Deck_2023-10-11-12-13-14000.PPT"; do
        awk -F'\t' -v p="$want" '$1 == 36 && $2 == p { found = 1 } END { exit !found }' "$list" \
            && ok "zero.img at $ss: $want" || fail "zero.img at $ss: no $want"
    done
    for kind in doc xls docx xlsx pptx odt ods odp zip ipa; do
        grep -q "^34	/$kind/" "$list" && ok "zero.img at $ss: a $kind file" || fail "zero.img at $ss: no $kind file"
    done
done

# Text pages: each copy comes back whole, followed by zero bytes only (the
# zero-padded sector that ends it decides the size).
for ss in 512 4096; do
    out=$W/out-text-$ss
    carve_scan text.img $ss "$out"
    if python3 - text.img "$out" "$ss" > "$out.check" <<'PY'
import os, sys
img, out, ss = sys.argv[1], sys.argv[2], int(sys.argv[3])
data = open(img, "rb").read()
found = [open(os.path.join(r, n), "rb").read() for r, _, ns in os.walk(out) for n in ns]
bad = 0
for line in open(img + ".manifest"):
    offset, size = (int(x) for x in line.split("\t")[:2])
    copy = data[offset:offset + size]
    if not any(f[:size] == copy and len(f) <= size + ss + 2 and not any(f[size:]) for f in found):
        print("missing or wrong:", line.strip())
        bad += 1
print("text copies: %d bad of %d, %d recovered" % (bad, sum(1 for _ in open(img + ".manifest")), len(found)))
sys.exit(1 if bad or len(found) != 3 else 0)
PY
    then ok "text.img at $ss: $(tail -n 1 "$out.check")"; else fail "text.img at $ss: $(cat "$out.check")"; fi
done

# Damaged copies: every document with all but its first 512 bytes replaced
# by random bytes, over and over. Fewer files, never a crash, a hang or a
# file past the image's end.
mkdir -p dmg
python3 - "$W/dmg" $WALKED $PADDED $TEXT <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(11)
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    name = os.path.join(out, "d-" + os.path.basename(path))
    open(name, "wb").write(data[:512] + rng.randbytes(max(0, len(data) - 512)))
PY
plant damaged.img --align 512 --gap random:512 --repeat-to 64M dmg/*
for ss in 512 4096; do
    out=$W/out-damaged-$ss
    start=$(date +%s)
    CARVE_LIST_ONLY=1 carve_scan damaged.img $ss "$out"
    took=$(( $(date +%s) - start ))
    [ "$took" -le 120 ] && ok "damaged.img at $ss: $took s" || fail "damaged.img at $ss took $took s"
    grep -q 'ERROR: \(Address\|Leak\|Undefined\)Sanitizer\|runtime error' "$out.stderr" "$out.rstderr" \
        && fail "damaged.img at $ss: sanitizer report"
    size=$(stat -c %s damaged.img)
    bad=$(awk -F'\t' -v size="$size" '$3 > size' "$out.list")
    [ -z "$bad" ] && ok "damaged.img at $ss: $(wc -l < "$out.list") files, none past the end" \
        || fail "damaged.img at $ss: files past the end: $bad"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
