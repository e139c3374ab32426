#!/usr/bin/env bash
# Carving quality against the signature carver of Debian's testdisk package
# (photorec), on the same images in the same run: a corpus of real files made
# by the machine's tools, planted at cluster boundaries in an image with zero
# slack and in a used-disk image whose slack and gaps hold old data. Prints
# per format and in total: planted, exact, prefix (cut short), too long,
# merged (an output holding another planted file's head), missing, outputs,
# bytes written and seconds, for each tool.
# Without --small, a third image: a reformatted disk (an NTFS volume of
# about a thousand files, a third deleted, quick-formatted as FAT32; FMT_MB
# and FMT_FILES change its size), scored by originals found by content.
# Usage: carve_quality.sh VANTREL_CLI [WORKDIR] [--small] [--check]
#   BEFORE_CLI=path also scores an older vantrel-cli on the same images.
#   --small: a smaller corpus (the CTest form).
#   --check: exits 1 when an image changed, when on the used-disk image an
#   output of ours holds another planted file's head or we carve fewer files
#   exactly than photorec, or when we write more than 1.5 times the planted
#   bytes.
# Exits 77 when photorec is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
HERE=$(cd "$(dirname "$0")" && pwd)
R=$(cd "$HERE/.." && pwd)
W=${2:-$(mktemp -d)}
SMALL=0
CHECK=0
for a in "$@"; do
    [ "$a" = "--small" ] && SMALL=1
    [ "$a" = "--check" ] && CHECK=1
done
case "${2:-}" in --*) W=$(mktemp -d); trap 'rm -rf "$W"' EXIT ;; esac
command -v photorec > /dev/null || { echo "needs photorec (Debian package testdisk)"; exit 77; }
mkdir -p "$W"
W=$(readlink -f "$W")
cd "$W" || exit 1
export TZ=UTC SOURCE_DATE_EPOCH=1700000000
PY="python3 $HERE/carve_quality.py"

# ---- corpus ---------------------------------------------------------------------
if [ ! -f corpus/.done ]; then
    rm -rf corpus gen && mkdir -p corpus gen
    have() { command -v "$1" > /dev/null; }
    # The real ImageMagick by its full path: a "convert" earlier on the path
    # may be something else.
    convert() { /usr/bin/convert "$@"; }
    if [ -x /usr/bin/convert ]; then
        convert -seed 3 -size 640x480 plasma:fractal gen/base.png 2> /dev/null ||
            convert -size 640x480 gradient:red-blue gen/base.png
        convert gen/base.png -quality 85 corpus/baseline.jpg
        convert gen/base.png -interlace Plane -quality 80 corpus/progressive.jpg
        convert gen/base.png -resize 1024x768! -sampling-factor 1x1 -quality 97 corpus/full444.jpg
        convert gen/base.png -resize 96x72 corpus/small.jpg
        convert gen/base.png corpus/picture.png
        convert gen/base.png -resize 320x240 corpus/picture.gif
        convert gen/base.png -resize 200x150 corpus/picture.bmp
        python3 "$R/tests/fixtures/bmp_v4.py" corpus/picture.bmp corpus/v4.bmp
        convert gen/base.png -resize 300x200 corpus/picture.tif
        convert gen/base.png -resize 300x200 corpus/picture.psd
        convert gen/base.png -resize 64x64 corpus/icon.webp 2> /dev/null || true
        convert gen/base.png -resize 200x150 corpus/drawing.eps 2> /dev/null || true
        if have exiftool; then
            cp corpus/baseline.jpg corpus/exif.jpg
            exiftool -q -overwrite_original -Make=Canon -Model="Canon EOS 5D" \
                "-DateTimeOriginal=2020:01:02 03:04:05" corpus/exif.jpg
        fi
    fi
    if have gs; then
        for n in 1 2 3; do
            printf '%%!PS\n/Helvetica findfont 20 scalefont setfont\n' > gen/p$n.ps
            for k in $(seq 1 $((n * 3))); do printf '72 %d moveto (Page text %d of file %d) show\n' $((700 - k * 20)) $k $n >> gen/p$n.ps; done
            printf 'showpage\n' >> gen/p$n.ps
            gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=corpus/doc$n.pdf gen/p$n.ps 2> /dev/null
        done
    fi
    if [ $SMALL -eq 0 ]; then
        timeout 600 bash "$R/tests/RAWSearch/make_docs.sh" "$W/gen/docs" > /dev/null 2>&1 &&
            for f in gen/docs/office/t.* gen/docs/office/r.docx gen/docs/zip/*.zip gen/docs/text/t.*; do
                cp "$f" "corpus/$(basename "$(dirname "$f")")-$(basename "$f")"
            done
        timeout 300 bash "$R/tests/RAWSearch/make_mp3s.sh" "$W/gen/mp3" > /dev/null 2>&1 &&
            find gen/mp3 -name '*.mp3' | sort | head -4 | while read -r f; do cp "$f" corpus/; done
        timeout 300 bash "$R/tests/RAWSearch/make_avcontainers.sh" "$W/gen/av" > /dev/null 2>&1 &&
            find gen/av -type f \( -name '*.mid' -o -name '*.wav' -o -name '*.flac' -o -name '*.avi' \) | sort |
            while read -r f; do cp "$f" corpus/; done
    fi
    cp "$R/tests/data/raw/first-entry-rels.pptx" corpus/rels-first.pptx
    seq 1 20000 > gen/numbers.txt
    gzip -9 -n -c gen/numbers.txt > corpus/numbers.gz
    (cd gen && tar -cf ../corpus/records.tar numbers.txt base.png 2> /dev/null)
    (cd gen && zip -q -X ../corpus/plain.zip numbers.txt base.png)
    if have sqlite3; then
        sqlite3 corpus/small.sqlite "create table t(a,b); insert into t values(1,'one'),(2,'two');"
    fi
    printf '<html>\n<head><title>Page</title></head>\n<body>\n<p>%s</p>\n</body>\n</html>\n' \
        "$(seq 1 400 | tr '\n' ' ')" > corpus/page.html
    printf '<svg xmlns="http://www.w3.org/2000/svg" width="10" height="10"><rect width="10" height="10" fill="red"/></svg>\n' \
        > corpus/nodecl.svg
    printf '{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard Some text %s.\\par\n}\n' \
        "$(seq 1 300 | tr '\n' ' ')" > corpus/note.rtf
    find corpus -type f -size 0 -delete
    touch corpus/.done
fi

# ---- images, tools, scores ---------------------------------------------------------
$PY plant corpus zero.img zero 11
$PY plant corpus used.img used 12

run_ours() {  # LABEL CLI IMAGE
    local out=out-$1-${3%.img} before after t0 t1
    rm -rf "$out"
    before=$(md5sum < "$3")
    t0=$(date +%s.%N)
    "$2" scan --deep-disk --sector-size 512 --recover "$out" "$3" > /dev/null 2> "$out.stderr"
    t1=$(date +%s.%N)
    after=$(md5sum < "$3")
    [ "$before" = "$after" ] || { echo "IMAGE CHANGED: $3 by $1" >&2; echo "$3" >> changed; }
    mkdir -p "$out"
    $PY score "$3" "$1" "$out" "$(python3 -c "print(round($t1 - $t0, 3))")"
}
run_photorec() {  # IMAGE
    local out=out-photorec-${1%.img} t0 t1
    rm -rf "$out" "$out".*
    mkdir -p "$out"
    t0=$(date +%s.%N)
    photorec /log /d "$out/r" /cmd "$1" partition_none,fileopt,everything,enable,wholespace,search > /dev/null 2>&1
    t1=$(date +%s.%N)
    $PY score "$1" photorec "$out" "$(python3 -c "print(round($t1 - $t0, 3))")"
}

printf 'image\ttool\tformat\tplanted\texact\tprefix\ttoolong\tmerged\tmissing\toutputs\tbytes\tseconds\n'
: > table.tsv
: > changed
for img in zero.img used.img; do
    planted=$(awk -F'\t' '{s += $2} END {print s}' $img.manifest)
    echo "# $img: $(wc -l < $img.manifest) files, $planted bytes planted"
    {
        run_ours vantrel "$CLI" $img
        [ -n "${BEFORE_CLI:-}" ] && run_ours before "$(readlink -f "$BEFORE_CLI")" $img
        run_photorec $img
    } | sed "s/^/$img\t/" | tee -a table.tsv
done

# ---- a reformatted disk ------------------------------------------------------------
# An NTFS volume of about a thousand files, a third of them deleted, then
# quick-formatted as FAT32: originals counted back by content. Files are put
# in through an ntfs-3g FUSE mount; without FUSE they are copied in with
# ntfscp and none is deleted.
if [ $SMALL -eq 0 ] && command -v mkntfs > /dev/null && command -v mkfs.fat > /dev/null; then
    FMT_MB=${FMT_MB:-384}
    if [ ! -f fmt.img ]; then
        rm -rf orig mnt && mkdir -p mnt
        $PY variants corpus orig "${FMT_FILES:-1000}" 21
        truncate -s "${FMT_MB}M" fmt.img
        mkntfs -q -F -f -c 4096 fmt.img > /dev/null 2>&1
        : > deleted.txt
        if ntfs-3g fmt.img mnt 2> /dev/null; then
            cp orig/* mnt/
            k=0
            for f in orig/*; do
                k=$((k + 1))
                [ $((k % 3)) -eq 0 ] && rm "mnt/$(basename "$f")" && basename "$f" >> deleted.txt
            done
            umount mnt
        else
            echo "# ntfs-3g cannot mount here: files copied with ntfscp, none deleted"
            for f in orig/*; do ntfscp -f fmt.img "$f" "$(basename "$f")" > /dev/null 2>&1; done
        fi
        mkfs.fat -F 32 fmt.img > /dev/null
    fi
    echo "# fmt.img: ${FMT_MB} MiB NTFS, $(ls orig | wc -l) files ($(wc -l < deleted.txt) deleted), reformatted FAT32"
    printf 'image\ttool\tformat\toriginals\tfound\tdeleted\tfound-deleted\toutputs\tbytes\tseconds\n'
    count_run() {  # LABEL IMAGE COMMAND...
        local label=$1 out=out-$1-fmt before after t0 t1
        shift 2
        rm -rf "$out" && mkdir -p "$out"
        before=$(md5sum < fmt.img)
        t0=$(date +%s.%N)
        "$@" "$out" > /dev/null 2>&1
        t1=$(date +%s.%N)
        after=$(md5sum < fmt.img)
        [ "$before" = "$after" ] || { echo "IMAGE CHANGED: fmt.img by $label" >&2; echo fmt.img >> changed; }
        $PY count orig "$label" "$out" "$(python3 -c "print(round($t1 - $t0, 3))")" deleted.txt
    }
    ours_fmt() { "$CLI" scan --deep-disk --sector-size 512 --recover "$1" fmt.img; }
    before_fmt() { "$(readlink -f "$BEFORE_CLI")" scan --deep-disk --sector-size 512 --recover "$1" fmt.img; }
    photorec_fmt() { photorec /log /d "$1/r" /cmd fmt.img partition_none,fileopt,everything,enable,wholespace,search; }
    {
        count_run vantrel fmt.img ours_fmt
        [ -n "${BEFORE_CLI:-}" ] && count_run before fmt.img before_fmt
        count_run photorec fmt.img photorec_fmt
    } | sed "s/^/fmt.img\t/" | tee fmt.tsv
fi

[ $CHECK -eq 1 ] || exit 0
status=0
[ -s changed ] && { echo "FAIL: images changed: $(cat changed)"; status=1; }
awk -F'\t' -v OFS='\t' '$3 == "TOTAL" { exact[$1 "/" $2] = $5; merged[$1 "/" $2] = $8; bytes[$1 "/" $2] = $11 }
    END {
        if (merged["used.img/vantrel"] > 0) { print "FAIL: outputs holding another file: " merged["used.img/vantrel"]; bad = 1 }
        if (exact["used.img/vantrel"] < exact["used.img/photorec"]) {
            print "FAIL: exact on the used disk: " exact["used.img/vantrel"] " < " exact["used.img/photorec"]; bad = 1 }
        exit bad }' table.tsv || status=1
for img in zero.img used.img; do
    planted=$(awk -F'\t' '{s += $2} END {print s}' $img.manifest)
    written=$(awk -F'\t' -v i=$img '$1 == i && $2 == "vantrel" && $3 == "TOTAL" {print $11}' table.tsv)
    [ "$written" -le $((planted * 3 / 2)) ] || { echo "FAIL: $img: $written bytes written for $planted planted"; status=1; }
done
[ $status -eq 0 ] && echo "ok"
exit $status
