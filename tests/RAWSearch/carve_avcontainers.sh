#!/usr/bin/env bash
# The real vantrel-cli carves audio and video containers (RIFF WAVE and AVI,
# AIFF, AU, Matroska and WebM, Flash video and Flash, MPEG program and
# transport streams, MXF, ASF, Ogg, RealMedia, MIDI, ADTS) out of images made by
# plant_image.py: every copy comes back exact in zero, random and 0xFF
# surroundings, across 4 MiB block boundaries and at the image's end, in the
# folder of its type; MIDI files come back rounded up to a whole sector; no
# image changes. ADTS streams followed by other bytes are not taken.
# Usage: carve_avcontainers.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when ffmpeg is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
source "$R/tests/RAWSearch/carve_av_common.sh"

bash "$R/tests/RAWSearch/make_avcontainers.sh" "$W/m" || { rc=$?; [ $rc -eq 77 ] && exit 77; echo "fixtures failed"; exit 1; }
M=$W/m
# ADTS streams are taken only where zero bytes follow them.
ALL=$(ls $M/* | grep -v '\.mid$' | grep -v '\.aac$')
mkdir -p $M/absent && cp $M/tone.aac $M/absent/followed.aac
plant zero.img --gap zero:65536 $ALL $M/tone.aac
plant random.img --gap random:4096 --seed 5 $ALL $M/absent/followed.aac
plant ff.img --gap ff:4096 $ALL
plant s512.img --align 512 --straddle 4194304:4 --gap zero:0 $ALL
plant s4k.img --straddle 4194304:4 --gap random:0 $ALL
plant end.img --end $M/clip.flv $M/clip.wmv
plant mid.img --gap random:4096 --seed 9 $M/tune.mid

# Every recovered copy lies in the folder of its type.
check_folders() {
    python3 - "$1" "$2" << 'PY'
import hashlib, os, sys
image, out = sys.argv[1], sys.argv[2]
want = {".wav": "wav", ".avi": "avi", ".aiff": "aiff", ".au": "au", ".mkv": "mkv", ".webm": "mkv",
        ".flv": "flv", ".swf": "swf", ".mpg": "mpg", ".vob": "mpg", ".ts": "m2ts", ".m2ts": "m2ts",
        ".mxf": "mxf", ".wmv": "wmv", ".wma": "wma", ".ogg": "ogg", ".ogv": "ogg", ".rm": "rmvb", ".aac": "m4a"}
by_digest = {}
for line in open(image + ".manifest"):
    offset, size, digest, kind, path = line.rstrip("\n").split("\t", 4)
    if "/absent/" not in path:
        by_digest[digest] = want[os.path.splitext(path)[1]]
found = {}
for root, _, names in os.walk(out):
    for name in names:
        p = os.path.join(root, name)
        d = hashlib.sha256(open(p, "rb").read()).hexdigest()
        found.setdefault(d, set()).add(os.path.basename(root))
bad = ["%s in %s" % (folder, sorted(found.get(d, ()))) for d, folder in by_digest.items() if folder not in found.get(d, ())]
if bad:
    print("\n".join(bad))
    sys.exit(1)
PY
}

carve_check() {
    local img=$1 ss=$2
    shift 2
    local out=$W/out-${img%.img}-$ss
    scan "$img" "$ss" "$out"
    if python3 "$TOOLS/check_carve.py" "$img" "$out" --list "$out.list" "$@" > "$out.check"; then
        ok "$img at $ss: $(head -n 1 "$out.check")"
    else
        fail "$img at $ss: $(cat "$out.check")"
    fi
    check_folders "$img" "$out" > "$out.folders" && ok "$img at $ss: folders" \
        || fail "$img at $ss: wrong folders: $(cat "$out.folders")"
}

for ss in 512 4096; do
    carve_check zero.img $ss
    carve_check random.img $ss --absent '*/absent/*'
    carve_check ff.img $ss
    carve_check end.img $ss
done
carve_check s512.img 512
carve_check s4k.img 4096

# The MIDI file's two tracks end it exactly, whatever follows them.
for ss in 512 4096; do
    out=$W/out-mid-$ss
    scan mid.img $ss "$out"
    size=$(stat -c %s "$M/tune.mid")
    want=$size
    file=$(find "$out" -type f -name '*.MID')
    [ "$(wc -l < "$out.list")" = 1 ] && [ -n "$file" ] && [ "$(stat -c %s "$file")" = "$want" ] \
        && cmp -s -n "$size" "$file" "$M/tune.mid" && ok "mid.img at $ss: one MID of $want bytes" \
        || fail "mid.img at $ss: $(cat "$out.list")"
done

# An image cut inside a file: what comes back is a start of it.
check_cut zero.img clip.mkv 20000
check_cut zero.img clip.wmv 30000

echo "$failures failures"
[ $failures -eq 0 ]
