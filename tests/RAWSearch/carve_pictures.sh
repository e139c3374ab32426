#!/usr/bin/env bash
# The real vantrel-cli carves the small picture formats out of images made by
# plant_image.py: every good copy comes back exact (in zero, random and 0xFF
# surroundings, across 4 MiB block boundaries, at the image's end), nothing
# comes back for the copies that must not be carved, sizes never pass the
# image's end, damaged copies cost no crash or hang, and no image changes.
# Usage: carve_pictures.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when the picture tools are missing.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/carve_common.sh"

"$R/tests/fixtures/make_pictures.sh" "$W/p" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
P=$W/p
OK=$(ls $P/*.png $P/*.gif $P/*.bmp $P/*.ico $P/pointer.cur $P/icon.icns $R/tests/data/raw/drawing*.emf \
        $R/tests/data/raw/drawing*.wmf)
plant zero.img --gap zero:65536 $OK $P/absent/*
plant random.img --gap random:4096 --seed 3 $OK
plant ff.img --gap ff:4096 $OK
plant s512.img --align 512 --straddle 4194304:8 --gap zero:0 $(echo "$OK" | grep -v big.png)
plant s4k.img --straddle 4194304:8 --gap zero:0 $(echo "$OK" | grep -v big.png)
plant end.img --end $P/gradient.png $P/plasma.png
# A bitmap whose size field claims 2 GiB, planted last.
python3 -c 'import sys;b=bytearray(open(sys.argv[1],"rb").read());b[2:6]=(0x7FFFFFFF).to_bytes(4,"little");open(sys.argv[2],"wb").write(b)' \
    "$P/v5.bmp" "$W/huge.bmp"
plant huge.img --end "$W/huge.bmp"

scan() { carve_scan "$@"; }

# Every file line sits in its extension folder, PNGs carry their sector range.
check_paths() {
    local list=$1 bad
    bad=$(awk -F'\t' '$1 != 34 || $2 !~ /^\/(png|gif|bmp|ico|cur|emf|wmf|icns)\/[^\/]+$/' "$list")
    [ -z "$bad" ] || fail "$list: lines outside the picture folders: $bad"
    bad=$(awk -F'\t' '$2 ~ /^\/png\// && $2 !~ /^\/png\/[0-9]+-[0-9]+_[0-9][0-9][0-9]+\.PNG$/' "$list")
    [ -z "$bad" ] || fail "$list: PNG names without their sectors: $bad"
}

carve_check() {
    local img=$1 ss=$2
    shift 2
    local out=$W/out-${img%.img}-$ss
    scan "$img" "$ss" "$out"
    check_paths "$out.list"
    if python3 "$TOOLS/check_carve.py" "$img" "$out" --list "$out.list" "$@" > "$out.check"; then
        ok "$img at $ss: $(head -n 1 "$out.check")"
    else
        fail "$img at $ss: $(cat "$out.check")"
    fi
}

for ss in 512 4096; do
    carve_check zero.img $ss --absent '*/absent/*'
    carve_check random.img $ss
    carve_check ff.img $ss
    carve_check end.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# The bitmap that claims more than the image holds ends at the image's end.
for ss in 512 4096; do
    out=$W/out-huge-$ss
    scan huge.img $ss "$out"
    offset=$(cut -f1 huge.img.manifest)
    want=$(( $(stat -c %s huge.img) - offset ))
    got=$(awk -F'\t' '$2 ~ /^\/bmp\// { print $3 }' "$out.list")
    [ "$got" = "$want" ] && ok "huge.img at $ss: one BMP of $want bytes" || fail "huge.img at $ss: BMP sizes '$got', want $want"
    file=$(find "$out" -type f -name '*.BMP')
    [ -n "$file" ] && [ "$(stat -c %s "$file")" = "$want" ] && cmp -s "$file" <(tail -c "$want" huge.img) \
        && ok "huge.img at $ss: recovered to the image's end" || fail "huge.img at $ss: recovered file wrong"
done

# An image cut 3 MiB into big.png: what is carved of it is a start of it.
cp --sparse=always zero.img cut.img
big_offset=$(awk -F'\t' '$5 ~ /big\.png$/ { print $1 }' zero.img.manifest)
truncate -s $((big_offset + 3 * 1048576)) cut.img
awk -F'\t' '$5 ~ /big\.png$/' zero.img.manifest > cut.img.manifest
for ss in 512 4096; do
    out=$W/out-cut-$ss
    scan cut.img $ss "$out"
    # The copy's original is what is left of it in the cut image.
    python3 "$TOOLS/check_carve.py" cut.img "$out" --prefix --allow-extra > "$out.check" && ok "cut.img at $ss: $(head -n 1 "$out.check")" \
        || fail "cut.img at $ss: $(cat "$out.check")"
done

# Only documents wanted: no picture is listed.
"$CLI" scan --deep-disk --types 16 --list zero.img > types.stdout 2> types.stderr || fail "--types 16 exited non-zero"
lines=$(file_lines < types.stdout | wc -l)
[ "$lines" -eq 0 ] && ok "--types 16 lists no carved file" || fail "--types 16 listed $lines files"

# Damaged copies: every good file with all but its first 512 bytes replaced
# by random bytes, over and over. Fewer files, never a crash, a hang or a
# file past the image's end.
mkdir -p dmg
python3 - "$W/dmg" $OK <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(7)
for path in sys.argv[2:]:
    data = open(path, "rb").read()
    name = os.path.join(out, "d-" + os.path.basename(path))
    open(name, "wb").write(data[:512] + rng.randbytes(max(0, len(data) - 512)))
PY
plant damaged.img --align 512 --gap random:512 --repeat-to 64M dmg/*
for ss in 512 4096; do
    out=$W/out-damaged-$ss
    start=$(date +%s)
    CARVE_LIST_ONLY=1 scan damaged.img $ss "$out"
    took=$(( $(date +%s) - start ))
    [ "$took" -le 60 ] && ok "damaged.img at $ss: $took s" || fail "damaged.img at $ss took $took s"
    grep -q 'ERROR: \(Address\|Leak\|Undefined\)Sanitizer\|runtime error' "$out.stderr" "$out.rstderr" \
        && fail "damaged.img at $ss: sanitizer report"
    size=$(stat -c %s damaged.img)
    bad=$(awk -F'\t' -v size="$size" -v ss="$ss" '
        $3 > size { print; next }
        $2 ~ /^\/png\/[0-9]+-/ { split($2, a, "/"); split(a[3], s, "-"); if (s[1] * ss + $3 > size) print }' "$out.list")
    [ -z "$bad" ] && ok "damaged.img at $ss: $(wc -l < "$out.list") files, none past the end" \
        || fail "damaged.img at $ss: files past the end: $bad"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
