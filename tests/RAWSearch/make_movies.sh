#!/usr/bin/env bash
# Makes the movie fixtures of the carving tests: QuickTime, MP4, M4A, M4V,
# 3GP and 3G2 files written by ffmpeg, with the index at the end and (for
# some) at the start, one with a phone's camera text in its user data.
# Usage: make_movies.sh OUTDIR    Exits 77 when ffmpeg is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
command -v ffmpeg > /dev/null || { echo "ffmpeg missing"; exit 77; }
OUT=$1
mkdir -p "$OUT"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
V=(-f lavfi -i testsrc=duration=2:size=160x120:rate=10)
V3=(-f lavfi -i testsrc=duration=2:size=176x144:rate=10)
A=(-f lavfi -i sine=frequency=440:duration=2)
B=(-fflags +bitexact -map_metadata -1)
ff "${V[@]}" "${A[@]}" -c:v mpeg4 -q:v 5 -c:a aac "${B[@]}" "$OUT/plain.mov"
ff "${V[@]}" -c:v mpeg4 -q:v 5 "${B[@]}" -movflags +faststart "$OUT/faststart.mov"
ff "${V[@]}" -c:v mpeg4 -q:v 5 "${B[@]}" -metadata make=Apple -metadata model="iPhone 12 Pro" "$OUT/phone.mov"
ff "${V[@]}" "${A[@]}" -c:v mpeg4 -q:v 5 -c:a aac "${B[@]}" "$OUT/clip.mp4"
ff "${V[@]}" "${A[@]}" -c:v mpeg4 -q:v 5 -c:a aac "${B[@]}" -movflags +faststart "$OUT/faststart.mp4"
ff "${A[@]}" -c:a aac "${B[@]}" "$OUT/song.m4a"
ff "${A[@]}" -c:a aac "${B[@]}" -movflags +faststart "$OUT/faststart.m4a"
ff "${V[@]}" -c:v mpeg4 "${B[@]}" "$OUT/clip.m4v"
ff "${V3[@]}" "${A[@]}" -c:v h263 -c:a aac -ar 8000 -ac 1 "${B[@]}" "$OUT/phone.3gp"
ff "${V3[@]}" -c:v h263 "${B[@]}" -movflags +faststart "$OUT/faststart.3gp"
ff "${V3[@]}" -c:v h263 "${B[@]}" -f 3g2 "$OUT/phone.3g2"
