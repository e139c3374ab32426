#!/usr/bin/env bash
# The real vantrel-cli carves JPEG pictures out of images made by
# plant_image.py: names, camera folders, times and sizes in the listing,
# every good copy recovered exactly (ends at every position near a sector's
# end, across 4 MiB block boundaries, at the image's end), nothing for the
# pictures that must not be carved, the 20 MiB cap of a picture without an
# end marker, the type filter, and no image ever changes.
# Usage: carve_jpegs.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when the picture tools are missing.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/carve_common.sh"
CHECK="python3 $R/tests/RAWSearch/check_jpeg_list.py"

"$R/tests/fixtures/make_jpegs.sh" "$W/j" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
J=$W/j
GOOD="$J/*.jpg $J/end/*.jpg"
# The capture time each picture carries, for the listing's time columns.
exiftool -q -T -filename -directory -DateTimeOriginal $GOOD \
    | awk -F'\t' '$3 != "-" { print $2 "/" $1 "\t" $3 }' > times
export TIMES=$W/times

plant jz.img --gap zero:65536 $GOOD $J/absent/*
plant jr.img --gap random:4096 --seed 4 $GOOD
plant jp.img --gap random:4096 --seed 6 $(yes $J/jfif-small.jpg | head -40)
STRADDLED="$J/canon-jfif.jpg $J/xiaomi1.jpg $J/exif-small.jpg $J/progressive.jpg"
plant js.img --align 512 --straddle 4194304:8 --gap zero:0 $STRADDLED
plant js4k.img --straddle 4194304:8 --gap zero:0 $STRADDLED
plant jend.img --end $J/end/jfif-0.jpg
plant nofoot.img --tail 25165824 $J/cut/nofoot.jpg

# Lists and recovers IMG at SS into $out (.list holds the file lines).
#   scan IMG SS [more scan options]
scan() {
    local img=$1 ss=$2
    shift 2
    out=$W/out-${img%.img}-$ss
    carve_scan "$img" "$ss" "$out" "$@"
}

for ss in 512 4096; do
    scan jz.img $ss
    check "jz.img at $ss names" $CHECK jz.img "$out.list" $ss names
    check "jz.img at $ss recovery" python3 "$TOOLS/check_carve.py" jz.img "$out" --list "$out.list" --absent '*/absent/*'

    # Random bytes follow each copy, so most run on past their end: each
    # copy must begin its own file, and one file per copy.
    for img in jr.img jp.img; do
        scan $img $ss
        [ "$(wc -l < "$out.list")" -eq "$(wc -l < $img.manifest)" ] && ok "$img at $ss: one node per copy" ||
            fail "$img at $ss: $(wc -l < "$out.list") nodes for $(wc -l < $img.manifest) copies"
        check "$img at $ss recovery" $CHECK $img "$out" $ss covers
    done

    scan jend.img $ss
    check "jend.img at $ss" python3 "$TOOLS/check_carve.py" jend.img "$out" --list "$out.list"

    scan nofoot.img $ss
    sizes=$(cut -f3 "$out.list" | tr '\n' ' ')
    file=$(find "$out" -type f)
    if [ "$sizes" = "20971520 " ] && [ "$(echo "$file" | wc -l)" = 1 ] &&
        cmp -s -n "$(stat -c %s "$J/cut/nofoot.jpg")" "$file" "$J/cut/nofoot.jpg"; then
        ok "nofoot.img at $ss: one node of 20 MiB"
    else
        fail "nofoot.img at $ss: sizes '$sizes', files $file"
    fi
done

scan js.img 512
check "js.img at 512" python3 "$TOOLS/check_carve.py" js.img "$out" --list "$out.list"
scan js4k.img 4096
check "js4k.img at 4096" python3 "$TOOLS/check_carve.py" js4k.img "$out" --list "$out.list"

# The type filter: pictures keep every JPEG, documents none.
all=$W/out-jz-512.list
"$CLI" scan --deep-disk --sector-size 512 --types 1 --list jz.img 2> /dev/null | file_lines > types1.list
cmp -s <(sort "$all") <(sort types1.list) && ok "--types 1 keeps every JPEG" || fail "--types 1 changed the listing"
"$CLI" scan --deep-disk --sector-size 512 --types 16 --list jz.img 2> /dev/null | file_lines > types16.list
[ ! -s types16.list ] && ok "--types 16 lists no JPEG" || fail "--types 16 listed: $(head -n 3 types16.list)"

echo "$failures failure(s)"
[ "$failures" -eq 0 ]
