#!/usr/bin/env bash
# The real vantrel-cli carves MP3 files out of images made by plant_image.py,
# in zero, random and 0xFF surroundings, across 4 MiB block boundaries and at
# the image's end, at sector sizes 512 and 4096. Files that begin with a
# frame, and every file the device sizer measures, come back exact; a file
# with an ID3 tag that the scan ends itself by its zero tail runs to its last
# sector's data (the file, then fewer zero bytes than one sector). Tags name
# and label the files; no image changes.
# Usage: carve_mp3s.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when ffmpeg, lame or id3v2 is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
source "$R/tests/RAWSearch/carve_av_common.sh"

bash "$R/tests/RAWSearch/make_mp3s.sh" "$W/m" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
M=$W/m
ALL=$(ls $M/*.mp3)
plant zero.img --gap zero:65536 $ALL
plant random.img --gap random:4096 --seed 9 $ALL
plant ff.img --gap ff:4096 $ALL
plant s512.img --align 512 --straddle 4194304:3 --gap random:0 $ALL
plant s4k.img --straddle 4194304:3 --gap zero:0 $ALL
plant end.img --end $M/bare.mp3 $M/id3v23.mp3

# Every copy is recovered: exact, or (an ID3-led file ended by its zero tail)
# the copy followed by fewer than SS zero bytes. Nothing else is recovered,
# and the listed sizes are the recovered ones.
check_copies() {
    python3 - "$1" "$2" "$3" "$4" << 'PY'
import os, sys
image, out, ss, listing = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
data = open(image, "rb")
copies = []
for line in open(image + ".manifest"):
    offset, size, digest, kind, path = line.rstrip("\n").split("\t", 4)
    data.seek(int(offset))
    copies.append((os.path.basename(path), data.read(int(size))))
files = []
for root, _, names in os.walk(out):
    for name in names:
        files.append(open(os.path.join(root, name), "rb").read())
used = [False] * len(files)
exact = padded = 0
bad = []
for name, body in copies:
    hit = None
    for i, f in enumerate(files):
        if used[i]:
            continue
        if f == body:
            hit, exact = i, exact + 1
            break
    if hit is None and name not in ("bare.mp3", "info.mp3", "v1.mp3"):
        for i, f in enumerate(files):
            tail = f[len(body):]
            if not used[i] and f.startswith(body) and len(tail) < ss and tail.count(0) == len(tail):
                hit, padded = i, padded + 1
                break
    if hit is None:
        bad.append("missing " + name)
    else:
        used[hit] = True
extra = used.count(False)
listed = sorted(int(l.split("\t")[2]) for l in open(listing))
if sorted(len(f) for f in files) != listed:
    bad.append("listed sizes %s differ from the recovered ones" % listed)
print("exact=%d padded=%d of %d extra=%d %s" % (exact, padded, len(copies), extra, " ".join(bad)))
sys.exit(1 if bad or extra else 0)
PY
}

carve_check() {
    local img=$1 ss=$2
    local out=$W/out-${img%.img}-$ss
    scan "$img" "$ss" "$out"
    if check_copies "$img" "$out" "$ss" "$out.list" > "$out.check"; then
        ok "$img at $ss: $(cat "$out.check")"
    else
        fail "$img at $ss: $(cat "$out.check")"
    fi
}

for ss in 512 4096; do
    carve_check zero.img $ss
    carve_check random.img $ss
    carve_check ff.img $ss
    carve_check end.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# Tags become label folders under "Artists": ID3v2 text in Latin-1, UTF-16
# and UTF-8, an ID3v1 tag after the frames, the title when there is no
# artist.
for ss in 512 4096; do
    for img in zero random; do
        out=$W/out-$img-$ss
        for label in "The Testers" "Fourth Band" "Björk Tëst" "日本語の歌手" "Old Band" "Low Rate" "Lame Artist"; do
            grep -qP "^36\t/Artists/\Q$label\E/[^/]+\.MP3\t" "$out.stdout" \
                && ok "$img at $ss: label $label" || fail "$img at $ss: no label $label"
        done
    done
done

# An image cut inside a file: what comes back is a start of it.
check_cut random.img lame.mp3 50000

echo "$failures failures"
[ $failures -eq 0 ]
