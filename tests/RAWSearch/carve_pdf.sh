#!/usr/bin/env bash
# The real vantrel-cli carves PDF and Illustrator documents, drawings (DXF,
# EPS, SVG, GPX, property lists) and Photoshop images out of images made by
# plant_image.py from files that real tools wrote: every copy comes back with
# its bytes (followed by at most the few zero bytes its format's end rule
# takes), PDFs are named, dated and labelled from their document
# information, damaged copies cost no crash or hang, and no image changes.
# Usage: carve_pdf.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when the tools are missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
TOOLS=$R/tests/tools
for tool in gs pstoedit gpsbabel convert python3; do
    command -v "$tool" > /dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
ok() { echo "ok: $*"; }

# ---- fixtures ---------------------------------------------------------------------
mkdir -p f
# Pages of text, uncompressed so that the documents pass 20 KiB.
pages() {
    echo "/Helvetica findfont 10 scalefont setfont"
    echo "1 1 $1 { pop 0 1 60 { /l exch def 40 760 l 12 mul sub moveto ($2 ) show l 10 string cvs show } for showpage } for"
}
{
    echo "%!PS"
    echo "[ /Title (Quarterly Report) /Author (Jane Roe) /Creator (Writer) /CreationDate (D:20240315093000+01'00') /ModDate (D:20240316101112Z) /DOCINFO pdfmark"
    pages 9 "Line of a quarterly report, number"
} > report.ps
{
    echo "%!PS"
    echo "[ /Title (Logo Sketch) /Author (Sam Poe) /Creator (Adobe Illustrator 27.0) /CreationDate (D:20230102030405Z) /ModDate (D:20230103040506Z) /DOCINFO pdfmark"
    pages 10 "Outline path of a logo sketch, anchor"
} > logo.ps
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompressPages=false -o f/report.pdf report.ps || fail "gs report"
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -dCompressPages=false -o f/logo.pdf logo.ps || fail "gs logo"
cat > shape.ps <<'PS'
%!PS
newpath 100 100 moveto 300 100 lineto 300 300 lineto closepath stroke
newpath 200 400 50 0 360 arc stroke
0 1 40 { /i exch def newpath 50 i 10 mul add 500 moveto 20 0 rlineto stroke } for
showpage
PS
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=eps2write -o f/shape.eps shape.ps || fail "gs eps"
pstoedit -q -f dxf shape.ps shape.dxf > /dev/null 2>&1 || fail "pstoedit dxf"
# The exchange format as CAD programs write it (CR LF line ends), and with a
# leading comment group.
sed 's/$/\r/' shape.dxf > f/shape-crlf.dxf
{ printf '999\nexported drawing\n'; cat shape.dxf; } > f/shape-comment.dxf
pstoedit -q -f plot-svg shape.ps f/shape.svg > /dev/null 2>&1 || fail "pstoedit svg"
printf 'lat,lon,name\n47.1,8.5,Start\n47.2,8.6,Middle\n47.3,8.7,End\n' > points.csv
gpsbabel -i unicsv -f points.csv -o gpx -F f/track.gpx || fail "gpsbabel"
python3 -c 'import plistlib,sys; plistlib.dump({"Name": "carved", "Items": list(range(200))}, open(sys.argv[1], "wb"))' f/prefs.plist
convert -size 160x120 -seed 4 plasma:fractal -depth 8 f/plasma.psd || fail "convert psd"
ls -l f

# ---- images -------------------------------------------------------------------------
plant() { python3 "$TOOLS/plant_image.py" "$@" || fail "plant_image.py $*"; }
plant zero.img --gap zero:65536 f/*
plant s4k.img --straddle 4194304:4 --gap zero:0 f/*
plant s512.img --align 512 --straddle 4194304:4 --gap zero:0 f/*

file_lines() { awk -F'\t' '($1 == 34 || $1 == 36) && NF >= 7 && $5 == 0'; }

# Runs a scan with --list and then with --recover into OUT.
scan() {
    local img=$1 ss=$2 out=$3 before after rc
    before=$(md5sum < "$img")
    "$CLI" scan --deep-disk --sector-size "$ss" --list "$img" > "$out.stdout" 2> "$out.stderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --list exited $rc: $(tail -n 3 "$out.stderr")"
    file_lines < "$out.stdout" > "$out.list"
    rm -rf "$out"
    "$CLI" scan --deep-disk --sector-size "$ss" --recover "$out" "$img" > /dev/null 2> "$out.rstderr"
    rc=$?
    [ $rc -eq 0 ] || fail "$img at $ss: --recover exited $rc: $(tail -n 3 "$out.rstderr")"
    after=$(md5sum < "$img")
    [ "$before" = "$after" ] || fail "$img changed during the scan or the recovery"
    mkdir -p "$out"
}

# Every planted copy must be a recovered file, or the start of one that goes
# on with no more than its format's zero bytes; listed sizes must be those of
# the recovered files.
check() {
    python3 - "$1" "$2" "$3" <<'PY'
import collections, os, sys
image, outdir, listing = sys.argv[1:4]
# Zero bytes an end rule may take after the data: the PDF end mark rule
# takes up to 3, SVG's up to 3, GPX's and property lists' 2, the data end
# in a zero-padded sector 1. DXF and EPS end exactly.
pad = {".pdf": 3, ".svg": 3, ".gpx": 2, ".plist": 2, ".psd": 1, ".dxf": 0, ".eps": 0}
data = open(image, "rb").read()
found = []
for root, _, names in os.walk(outdir):
    for n in names:
        found.append(open(os.path.join(root, n), "rb").read())
used = [False] * len(found)
bad = []
total = 0
for line in open(image + ".manifest"):
    offset, size, _, _, path = line.rstrip("\n").split("\t", 4)
    offset, size = int(offset), int(size)
    total += 1
    copy = data[offset:offset + size]
    limit = pad[os.path.splitext(path)[1]]
    hit = next((i for i, f in enumerate(found) if not used[i] and f[:size] == copy and len(f) - size <= limit
                and not f[size:].strip(b"\0")), None)
    if hit is None:
        bad.append("%s at %d" % (os.path.basename(path), offset))
    else:
        used[hit] = True
sizes = collections.Counter(int(l.split("\t")[2]) for l in open(listing) if l.strip())
if sizes != collections.Counter(len(f) for f in found):
    bad.append("listed sizes differ from recovered sizes")
extra = used.count(False)
print("matched=%d/%d extra=%d" % (total - len(bad), total, extra))
if bad or extra:
    print("\n".join(bad))
    sys.exit(1)
PY
}

carve_check() {
    local img=$1 ss=$2 out=$W/out-${1%.img}-$2
    scan "$img" "$ss" "$out"
    if check "$img" "$out" "$out.list" > "$out.check"; then
        ok "$img at $ss: $(head -n 1 "$out.check")"
    else
        fail "$img at $ss: $(cat "$out.check")"
    fi
}

for ss in 512 4096; do
    carve_check zero.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# Names, folders, labels and times from the documents' own information.
for ss in 512 4096; do
    list=$W/out-zero-$ss.list
    grep -qP '^36\t/PDF/Jane Roe/Quarterly Report2024-03-16 10-11-12[0-9]{3}\.PDF\t[0-9]+\t0\t0\t2024-03-15T09:30:00Z' "$list" \
        && ok "zero.img at $ss: report named, labelled and dated" || fail "zero.img at $ss: report line: $(grep -i report "$list")"
    grep -qP '^36\t/AI/Sam Poe/Logo Sketch2023-01-03 04-05-06[0-9]{3}\.AI\t' "$list" \
        && ok "zero.img at $ss: Illustrator document typed and labelled" || fail "zero.img at $ss: logo line: $(grep -i logo "$list")"
    for ext in dxf eps svg gpx plist psd; do
        want=$(grep -c "\.$ext\$" zero.img.manifest)
        got=$(awk -F'\t' -v e="$ext" '$1 == 34 && index($2, "/" e "/") == 1' "$list" | wc -l)
        [ "$got" = "$want" ] && ok "zero.img at $ss: $got in /$ext" || fail "zero.img at $ss: $got files in /$ext, want $want"
    done
done

# Damaged copies: all but the first 512 bytes of every file replaced by
# random bytes, over and over. Fewer files, never a crash, a hang or a file
# past the image's end.
mkdir -p dmg
python3 - "$W/dmg" f/* <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(9)
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    open(os.path.join(out, "d-" + os.path.basename(path)), "wb").write(data[:512] + rng.randbytes(max(0, len(data) - 512)))
PY
plant damaged.img --align 512 --gap random:512,zero:512 --repeat-to 48M dmg/*
for ss in 512 4096; do
    out=$W/out-damaged-$ss
    start=$(date +%s)
    CARVE_LIST_ONLY=1 scan damaged.img $ss "$out"
    took=$(( $(date +%s) - start ))
    [ "$took" -le 90 ] && ok "damaged.img at $ss: $took s" || fail "damaged.img at $ss took $took s"
    grep -q 'ERROR: \(Address\|Leak\|Undefined\)Sanitizer\|runtime error' "$out.stderr" "$out.rstderr" \
        && fail "damaged.img at $ss: sanitizer report"
    size=$(stat -c %s damaged.img)
    bad=$(awk -F'\t' -v size="$size" '$3 > size' "$out.list")
    [ -z "$bad" ] && ok "damaged.img at $ss: $(wc -l < "$out.list") files, none past the end" \
        || fail "damaged.img at $ss: files past the end: $bad"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
