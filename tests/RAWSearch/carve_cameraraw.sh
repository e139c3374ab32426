#!/usr/bin/env bash
# The real vantrel-cli carves TIFF pictures and TIFF-based camera raw files
# out of images made by plant_image.py: the raw type told from the camera
# make that exiftool wrote, the camera folder of the label tree, names with
# make, model and sector range, exact bytes where the directories name the
# file's end and zero padding to the sector where they do not, big- and
# little-endian files, copies across 4 MiB block boundaries, a file with
# more directories than the search follows (sized from the device), damaged
# copies without a crash or hang, and no image ever changes.
# Usage: carve_cameraraw.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when ImageMagick or exiftool is missing.
set -uo pipefail
CLI=$(readlink -f "$1")
R=$(readlink -f "$2")
TOOLS=$R/tests/tools
CHECK="python3 $R/tests/RAWSearch/check_raw_carve.py"
C=/usr/bin/convert
[ -x "$C" ] && command -v exiftool > /dev/null || { echo "needs imagemagick and exiftool"; exit 77; }
W=${KEEP_DIR:-$(mktemp -d)}
[ -n "${KEEP_DIR:-}" ] || trap 'rm -rf "$W"' EXIT
cd "$W" || exit 1
. "$R/tests/RAWSearch/carve_family_lib.sh"
. "$R/tests/fixtures/fixture_clock.sh"

# ---- fixtures -----------------------------------------------------------------
mkdir -p f f/absent
: > expect
# camera_tif NAME ENDIAN SIZE MAKE MODEL EXT: a TIFF from ImageMagick with the camera
# exiftool writes; the directories name every byte, so its end is exact.
camera_tif() {
    local name=$1 endian=$2 size=$3 mk=$4 model=$5 ext=$6
    $C -seed 5 -size "$size" plasma:fractal -depth 8 -compress none -define tiff:endian="$endian" "f/$name" \
        || { fail "convert $name"; return; }
    exiftool -q -overwrite_original -Make="$mk" -Model="$model" -ModifyDate="2021:03:04 05:06:07" "f/$name" \
        || { fail "exiftool $name"; return; }
    local up=${mk^^}
    printf '%s\t%s\texact\t36/Camera/%s\t%s_%s_{A}-[0-9]+\n' "$name" "$ext" "$up" "$up" "$model" >> expect
}
camera_tif nikon.tif msb 64x64 "NIKON CORPORATION" "NIKON D70" NEF
camera_tif canon.tif lsb 80x60 "Canon" "Canon EOS 5D" CR2
camera_tif sonyr1.tif msb 70x50 "SONY" "DSC-R1" SR2
camera_tif sony.tif lsb 70x60 "SONY" "DSLR-A700" ARW
camera_tif panasonic.tif lsb 66x60 "Panasonic" "DMC-GH1" RW2
camera_tif kodakpro.tif msb 60x60 "Kodak" "DCS Pro SLR-n" DCR
camera_tif kodak.tif lsb 64x60 "KODAK" "EasyShare Z1" KDC
camera_tif hasselblad.tif msb 62x62 "Hasselblad" "H3D" 3FR
camera_tif epson.tif lsb 60x70 "SEIKO EPSON CORP." "R-D1" ERF
camera_tif mamiya.tif msb 60x64 "Mamiya-OP Co.,Ltd." "ZD" MEF
camera_tif pentax.tif lsb 72x50 "PENTAX Corporation" "PENTAX K10D" PEF
camera_tif samsung.tif msb 64x65 "SAMSUNG" "GX10" SRW
camera_tif olympus.tif lsb 64x66 "OLYMPUS IMAGING CORP." "E-3" ORF
# A DNG version tag outranks the make.
camera_tif dng.tif lsb 60x60 "NIKON CORPORATION" "NIKON D70" DNG
exiftool -q -overwrite_original -DNGVersion=1.4.0.0 f/dng.tif || fail "exiftool dng"
# A model with a character the camera-text rule refuses: named by the make.
camera_tif slash.tif msb 60x62 "Canon" "EOS/5D" CR2
sed -i 's|^slash.tif\t\(.*\)\tCANON_EOS/5D_|slash.tif\t\1\tCANON__|' expect
# Plain pictures without a camera: their directories lie behind the image
# data, so the file runs to the end of the sector where zero bytes follow.
$C -seed 7 -size 300x200 plasma:fractal -depth 8 -compress none -define tiff:endian=lsb f/plain-le.tif
$C -seed 8 -size 120x90 plasma:fractal -depth 8 -compress none -define tiff:endian=msb f/plain-be.tif
# Large enough to cross a 4 MiB block (about 4.8 MB).
$C -seed 9 -size 1300x1240 plasma:fractal -depth 8 -compress none f/big.tif
for n in plain-le.tif plain-be.tif; do
    printf '%s\tTIF\tpadded\t34/tif\t_{A}-[0-9]+\n' "$n" >> expect
done
# Its first directory lies too far into the file for the search to wait for
# it: the device walk sizes it, and without a camera it has no name of its own.
printf '%s\tTIF\tpadded\t34/tif\tFILE\n' big.tif >> expect
# Twelve pages: more directories than the search follows, so the device
# walk sizes it.
$C -seed 3 -size 60x40 $(for i in $(seq 12); do echo plasma:fractal; done) -depth 8 -compress none f/pages.tif
printf '%s\tTIF\tpadded\t34/tif\tFILE\n' pages.tif >> expect
# CRW, X3F and MRW: no free tool writes them, so they are crafted: a CRW
# heap that closes with an end record 70 bytes before its end, an X3F whose
# directory section begins 76 bytes before its end, an MRW sized by its
# header.
python3 - f <<'PY'
import random, struct, sys
rng = random.Random(5)
def body(n):
    return bytes(rng.randrange(1, 256) for _ in range(n))
crw = b"II\x1a\x00\x00\x00HEAPCCDR\x02" + body(600000) + b"\x07\x28\xa8\x00\x00\x00" + body(64)
open(sys.argv[1] + "/heap.crw", "wb").write(crw)
x3f = b"FOVb" + body(300000) + b"SECd" + body(72)
open(sys.argv[1] + "/sigma.x3f", "wb").write(x3f)
mrw = bytearray(b"\x00MRM" + struct.pack(">I", 2000) + body(10000))
mrw[24:28] = struct.pack(">HH", 40, 100)
mrw[32] = 12
open(sys.argv[1] + "/minolta.mrw", "wb").write(bytes(mrw[:2000 + 40 * 100 * 12 // 8 + 8]))
PY
printf '%s\tCRW\texact\t34/crw\t{A}-[0-9]+\n' heap.crw >> expect
printf '%s\tX3F\texact\t34/x3f\t{A}-[0-9]+\n' sigma.x3f >> expect
printf '%s\tMRW\texact\t34/mrw\t[0-9A-Za-z_-]*\n' minolta.mrw >> expect
# Must not be carved: the byte order mark without the TIFF number.
{ printf 'II\053\000'; fixture_random notiff 8188; } > f/absent/notiff.bin

GOOD=$(ls f/*.tif f/*.crw f/*.x3f f/*.mrw)
plant zero.img --gap zero:65536 $GOOD f/absent/*
plant s512.img --align 512 --straddle 4194304:8 --gap zero:0 f/nikon.tif f/plain-le.tif f/big.tif f/pages.tif
plant s4k.img --straddle 4194304:8 --gap zero:4096 f/canon.tif f/plain-be.tif f/big.tif
plant end.img --end f/sony.tif

for ss in 512 4096; do
    for img in zero.img end.img; do
        scan $img $ss
        check "$img at $ss" $CHECK $img "$out" "$out.list" expect $ss
    done
done
scan s512.img 512
check "s512.img at 512" $CHECK s512.img "$out" "$out.list" expect 512
scan s4k.img 4096
check "s4k.img at 4096" $CHECK s4k.img "$out" "$out.list" expect 4096

# The capture time the camera wrote is the file's time.
line=$(awk -F'\t' '$2 ~ /NIKON D70_[0-9]+-[0-9]+_[0-9]+\.NEF$/' "$W/out-zero-512.list")
case "$line" in
*2021-03-04*05:06:07*) ok "NEF time: $line" ;;
*) fail "NEF time missing: $line" ;;
esac

# Damaged copies: fewer files, never a crash, a hang or a file past the
# image's end.
damaged 11 16M $GOOD

echo "$failures failures"
[ "$failures" -eq 0 ]
