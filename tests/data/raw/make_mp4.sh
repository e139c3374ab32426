#!/usr/bin/env bash
# Makes the MP4 fixtures of the box-walker tests (run once; the outputs are
# committed): one second of test pattern, written plain (ftyp, free, mdat,
# moov), with the index first (ftyp, moov, free, mdat) and fragmented (ftyp,
# moov, moof, mdat, mfra).
# Usage: make_mp4.sh [OUTDIR]   (default: this script's folder)
set -euo pipefail
OUT=$(cd "${1:-$(dirname "$0")}" && pwd)
make() {
    ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration=1:size=160x120:rate=10 -c:v mpeg4 -q:v 5 \
        -fflags +bitexact -map_metadata -1 "$@"
}
make "$OUT/plain.mp4"
make -movflags +faststart "$OUT/faststart.mp4"
make -movflags frag_keyframe+empty_moov "$OUT/fragmented.mp4"

python3 - "$OUT" <<'PY'
import struct, sys, os
def boxes(path):
    data = open(path, "rb").read()
    pos, out = 0, []
    while pos + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, pos)
        if size == 1:
            size = struct.unpack_from(">Q", data, pos + 8)[0]
        out.append(kind.decode("latin-1"))
        if size < 8:
            break
        pos += size
    assert pos == len(data), "%s: boxes end at %d of %d" % (path, pos, len(data))
    return out
for name in ("plain.mp4", "faststart.mp4", "fragmented.mp4"):
    print(name, os.path.getsize(os.path.join(sys.argv[1], name)), " ".join(boxes(os.path.join(sys.argv[1], name))))
PY
