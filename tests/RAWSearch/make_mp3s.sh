#!/usr/bin/env bash
# Makes the MP3 fixtures of the carving tests: files with ID3v2.3 and v2.4
# tags (Latin-1, UTF-16 and UTF-8 text), with an ID3v1 tag at the end, with
# and without an Info frame, MPEG-1 and MPEG-2 rates, made by ffmpeg, lame
# and id3v2.
# Usage: make_mp3s.sh OUTDIR    Exits 77 when a tool is missing.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
for tool in ffmpeg lame id3v2; do
    command -v $tool > /dev/null || { echo "$tool missing"; exit 77; }
done
OUT=$1
mkdir -p "$OUT"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
S=(-f lavfi -i sine=frequency=440:duration=5)
B=(-c:a libmp3lame -fflags +bitexact -flags +bitexact)
ff "${S[@]}" "${B[@]}" -b:a 128k -id3v2_version 3 -metadata artist="The Testers" -metadata title="Sine Song" \
    -metadata date=20190304 "$OUT/id3v23.mp3"
ff "${S[@]}" "${B[@]}" -b:a 112k -metadata artist="Fourth Band" -metadata title="New Tag" "$OUT/id3v24.mp3"
# id3v2 stores the bytes it is given as Latin-1 text (encoding 0).
ff "${S[@]}" "${B[@]}" -b:a 128k -id3v2_version 0 -write_xing 0 "$OUT/latin1.mp3"
id3v2 -2 -a "$(printf 'Bj\xf6rk T\xebst')" -t "$(printf 'Caf\xe9 Cr\xe8me')" "$OUT/latin1.mp3" > /dev/null
ff "${S[@]}" "${B[@]}" -b:a 128k -id3v2_version 3 -metadata artist="日本語の歌手" -metadata title="歌" "$OUT/utf16.mp3"
ff "${S[@]}" "${B[@]}" -b:a 128k -id3v2_version 0 -write_xing 0 "$OUT/bare.mp3"
ff "${S[@]}" "${B[@]}" -b:a 96k -id3v2_version 0 "$OUT/info.mp3"
ff "${S[@]}" "${B[@]}" -b:a 160k -id3v2_version 0 "$OUT/v1.mp3"
id3v2 -1 -a "Old Band" -t "Old Tune" "$OUT/v1.mp3" > /dev/null
ff -f lavfi -i sine=frequency=300:duration=5:sample_rate=22050 "${B[@]}" -b:a 32k -id3v2_version 3 \
    -metadata title="Low Rate" "$OUT/lsf.mp3"
ff -f lavfi -i sine=frequency=500:duration=6 -ac 2 "$OUT/tone.wav"
lame --quiet -b 192 --tt "Lame Title" --ta "Lame Artist" --add-id3v2 "$OUT/tone.wav" "$OUT/lame.mp3"
rm -f "$OUT/tone.wav"
