#!/usr/bin/env bash
# Makes the metafile fixtures of the carving tests (run once; the outputs are
# committed): a small drawing converted by LibreOffice Draw to EMF and to
# placeable WMF, and the WMF again without its 22-byte placeable header.
# Checks the header facts the carving relies on.
# Usage: make_drawings.sh [OUTDIR]   (default: this script's folder)
set -euo pipefail
OUT=$(cd "${1:-$(dirname "$0")}" && pwd)
W=$(mktemp -d)
trap 'rm -rf "$W"' EXIT
cat > "$W/drawing.svg" <<'SVG'
<svg xmlns="http://www.w3.org/2000/svg" width="320" height="200" viewBox="0 0 320 200">
  <rect x="10" y="10" width="140" height="90" fill="#3060c0" stroke="#000000" stroke-width="3"/>
  <circle cx="230" cy="110" r="60" fill="#e08020" stroke="#202020" stroke-width="2"/>
  <text x="40" y="170" font-family="sans-serif" font-size="32" fill="#000000">vantrel</text>
</svg>
SVG
(cd "$W" && HOME="$W" soffice --headless --convert-to emf drawing.svg >/dev/null 2>&1)
(cd "$W" && HOME="$W" soffice --headless --convert-to wmf drawing.svg >/dev/null 2>&1)
cp "$W/drawing.emf" "$W/drawing.wmf" "$OUT/"
tail -c +23 "$OUT/drawing.wmf" > "$OUT/drawing-plain.wmf"

python3 - "$OUT" <<'PY'
import struct, sys, os
out = sys.argv[1]
def load(name):
    return open(os.path.join(out, name), "rb").read()
emf = load("drawing.emf")
assert emf[40:44] == b" EMF", "EMF: no ' EMF' at 40"
assert struct.unpack_from("<H", emf, 58)[0] == 0, "EMF: u16 at 58 is not 0"
assert struct.unpack_from("<I", emf, 48)[0] == len(emf), "EMF: u32 at 48 is not the file size"
wmf = load("drawing.wmf")
assert wmf[:6] == bytes.fromhex("D7CDC69A0000"), "WMF: no placeable key"
x = 0
for i in range(10):
    x ^= struct.unpack_from("<H", wmf, 2 * i)[0]
assert x == struct.unpack_from("<H", wmf, 20)[0], "WMF: checksum"
assert struct.unpack_from("<I", wmf, 22)[0] == 0x00090001, "WMF: no standard header at 22"
assert 2 * struct.unpack_from("<I", wmf, 28)[0] + 22 == len(wmf), "WMF: size in words at 28"
plain = load("drawing-plain.wmf")
assert plain[:4] == bytes.fromhex("01000900"), "plain WMF: key"
assert struct.unpack_from("<H", plain, 16)[0] == 0, "plain WMF: u16 at 16"
assert 2 * struct.unpack_from("<I", plain, 6)[0] == len(plain), "plain WMF: size in words at 6"
print("drawing.emf %d, drawing.wmf %d, drawing-plain.wmf %d bytes: headers as expected" % (len(emf), len(wmf), len(plain)))
PY
