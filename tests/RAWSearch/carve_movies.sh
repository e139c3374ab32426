#!/usr/bin/env bash
# The real vantrel-cli carves QuickTime and MP4-family movies out of images
# made by plant_image.py: every copy comes back exact (the box walk gives an
# exact end) in zero, random and 0xFF surroundings, across 4 MiB block
# boundaries and at the image's end, in the folder of its type; the phone's
# camera text becomes a label; no image changes.
# Usage: carve_movies.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when ffmpeg is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
source "$R/tests/RAWSearch/carve_av_common.sh"

bash "$R/tests/RAWSearch/make_movies.sh" "$W/m" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
M=$W/m
ALL=$(ls $M/* $R/tests/data/raw/*.mp4)
plant zero.img --gap zero:65536 $ALL
plant random.img --gap random:4096 --seed 5 $ALL
plant ff.img --gap ff:4096 $ALL
plant s512.img --align 512 --straddle 4194304:4 --gap zero:0 $ALL
plant s4k.img --straddle 4194304:4 --gap random:0 $ALL
plant end.img --end $M/clip.mp4 $M/plain.mov

# Every recovered copy lies in the folder its type belongs to.
check_folders() {
    python3 - "$1" "$2" << 'PY'
import hashlib, os, sys
image, out = sys.argv[1], sys.argv[2]
want = {".mov": "mov", ".mp4": "mp4", ".m4a": "m4a", ".m4v": "m4v", ".3gp": "3gp", ".3g2": "3gp"}
by_digest = {}
for line in open(image + ".manifest"):
    offset, size, digest, kind, path = line.rstrip("\n").split("\t", 4)
    by_digest[digest] = want[os.path.splitext(path)[1]]
# A labelled copy may be recovered into its label folder instead.
found = {}
for root, _, names in os.walk(out):
    for name in names:
        p = os.path.join(root, name)
        d = hashlib.sha256(open(p, "rb").read()).hexdigest()
        found.setdefault(d, set()).add(os.path.basename(root))
bad = ["%s in %s" % (folder, sorted(found.get(d, ()))) for d, folder in by_digest.items()
       if folder not in found.get(d, ()) and not any(f.isupper() for f in found.get(d, ()))]
if bad:
    print("\n".join(bad))
    sys.exit(1)
PY
}

carve_check() {
    local img=$1 ss=$2
    local out=$W/out-${img%.img}-$ss
    scan "$img" "$ss" "$out"
    if python3 "$TOOLS/check_carve.py" "$img" "$out" --list "$out.list" > "$out.check"; then
        ok "$img at $ss: $(head -n 1 "$out.check")"
    else
        fail "$img at $ss: $(cat "$out.check")"
    fi
    check_folders "$img" "$out" > "$out.folders" && ok "$img at $ss: folders" \
        || fail "$img at $ss: wrong folders: $(cat "$out.folders")"
}

for ss in 512 4096; do
    carve_check zero.img $ss
    carve_check random.img $ss
    carve_check ff.img $ss
    carve_check end.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# The phone's movie: its camera text in upper case is the label folder. The
# text is looked for near the start of the sector where the movie ends: at
# 512 bytes a sector that holds it, at 4096 not.
for ss in 512; do
    out=$W/out-zero-$ss
    grep -q $'^36\t/MOV/IPHONE 12 PRO/[^/]*\.MOV\t17157\t' "$out.stdout" \
        && ok "zero.img at $ss: phone label" || fail "zero.img at $ss: no IPHONE 12 PRO label: $(grep -P '^36\t' "$out.stdout")"
done

# An image cut inside a file: what comes back is a start of it.
check_cut zero.img plain.mov 20000

echo "$failures failures"
[ $failures -eq 0 ]
