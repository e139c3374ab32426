#!/usr/bin/env bash
# Makes the audio and video container fixtures of the carving tests: files
# written by ffmpeg (bit-exact) in each container the carver sizes by its own
# structure, plus a Standard MIDI file written byte by byte.
# Usage: make_avcontainers.sh OUTDIR    Exits 77 when ffmpeg is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
command -v ffmpeg > /dev/null || { echo "ffmpeg missing"; exit 77; }
OUT=$1
mkdir -p "$OUT"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
V=(-f lavfi -i testsrc=duration=2:size=160x120:rate=10)
V25=(-f lavfi -i testsrc=duration=2:size=160x120:rate=25)
A=(-f lavfi -i sine=frequency=440:duration=2)
B=(-fflags +bitexact -flags +bitexact -map_metadata -1)
ff "${A[@]}" -c:a pcm_s16le "${B[@]}" "$OUT/tone.wav"
# 44 header bytes + 4074 samples of 2 bytes: exactly 16 sectors of 512.
ff "${A[@]}" -af aresample=8000,atrim=end_sample=4074 -c:a pcm_s16le -ac 1 "${B[@]}" "$OUT/exact.wav"
ff "${V[@]}" "${A[@]}" -c:v mpeg4 -q:v 5 -c:a pcm_s16le "${B[@]}" "$OUT/clip.avi"
ff "${A[@]}" -c:a pcm_s16be "${B[@]}" "$OUT/tone.aiff"
ff "${A[@]}" -c:a pcm_s16be "${B[@]}" "$OUT/tone.au"
ff "${V[@]}" "${A[@]}" -c:v mpeg4 -q:v 5 -c:a aac "${B[@]}" "$OUT/clip.mkv"
ff "${V[@]}" -c:v libvpx -b:v 100k "${B[@]}" "$OUT/clip.webm"
ff "${V[@]}" "${A[@]}" -c:v flv1 -c:a mp3 "${B[@]}" "$OUT/clip.flv"
ff "${V25[@]}" "${A[@]}" -c:v mpeg1video -c:a mp2 "${B[@]}" -f mpeg "$OUT/clip.mpg"
ff "${V25[@]}" "${A[@]}" -c:v mpeg2video -c:a mp2 "${B[@]}" -f vob "$OUT/clip.vob"
ff "${V25[@]}" "${A[@]}" -c:v mpeg2video -c:a mp2 "${B[@]}" -f mpegts "$OUT/clip.ts"
ff "${V25[@]}" "${A[@]}" -c:v mpeg2video -c:a mp2 "${B[@]}" -f mpegts -mpegts_m2ts_mode 1 "$OUT/clip.m2ts"
ff "${V25[@]}" -c:v mpeg2video -pix_fmt yuv422p -b:v 1M "${B[@]}" -f mxf "$OUT/clip.mxf"
ff "${V[@]}" "${A[@]}" -c:v wmv2 -c:a wmav2 "${B[@]}" "$OUT/clip.wmv"
ff "${A[@]}" -c:a wmav2 "${B[@]}" "$OUT/tone.wma"
ff "${V[@]}" "${A[@]}" -c:v libtheora -c:a libvorbis "${B[@]}" "$OUT/clip.ogv"
ff "${A[@]}" -c:a libvorbis "${B[@]}" "$OUT/tone.ogg"
ff -f lavfi -i sine=frequency=440:duration=3 -c:a aac "${B[@]}" -f adts "$OUT/tone.aac"
ff -f lavfi -i testsrc=duration=2:size=176x144:rate=10 "${A[@]}" -c:v rv10 -c:a ac3 "${B[@]}" -f rm "$OUT/clip.rm"
ff "${V[@]}" -c:v flv1 "${B[@]}" -f swf "$OUT/clip.swf"
# A format-1 MIDI file with two tracks.
python3 - "$OUT/tune.mid" << 'PY'
import struct, sys
def track(events):
    return b"MTrk" + struct.pack(">I", len(events)) + events
notes = b"".join(bytes([0x00, 0x90, 60 + i, 0x40, 0x60, 0x80, 60 + i, 0x40]) for i in range(24))
t1 = track(b"\x00\xff\x51\x03\x07\xa1\x20" + b"\x00\xff\x2f\x00")
t2 = track(notes + b"\x00\xff\x2f\x00")
open(sys.argv[1], "wb").write(b"MThd" + struct.pack(">IHHH", 6, 1, 2, 96) + t1 + t2)
PY
