#!/bin/bash
# Makes the preview test image in DIR: make-preview-image.sh DIR
#   preview.img  16 MiB FAT16 "PREVIEWS", no partition table:
#     /Sunset.jpg   120x80 JPEG          /Badge.png  50x30 PNG
#     /Broken.jpg   random bytes         /Shot.cr2   random bytes around a
#     /Empty.jpg    0 bytes                          200x100 JPEG
#     /README       random bytes (no extension)
#     /Movie.mp4    random bytes        /Clip.mp4   320x240 H.264 movie
#     /Photo.dng    300x200 raw photo   /Layers.psd 300x150 layered picture
#   (the last three from tests/fixtures/make_thumbnail_files.sh)
#   and the same files in DIR/src for comparison.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
cd "$1"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 TZ=UTC
data() { fixture_random "$1" "$2"; }
rm -rf src && mkdir -p src
convert -size 120x80 gradient:red-blue -quality 90 src/Sunset.jpg
convert -size 50x30 xc:green src/Badge.png
convert -size 200x100 gradient:yellow-black -quality 85 embedded.jpg
data broken 4000 > src/Broken.jpg
: > src/Empty.jpg
{ data head 5000; cat embedded.jpg; data tail 3000; } > src/Shot.cr2
data readme 900 > src/README
data movie 5000 > src/Movie.mp4
mkdir -p made
bash "$here/../fixtures/make_thumbnail_files.sh" made
cp made/clip.mp4 src/Clip.mp4
cp made/photo.dng src/Photo.dng
cp made/layers.psd src/Layers.psd
rm -rf made
rm -f embedded.jpg
find src -type f -exec touch -d '2022-06-07 08:09:10' {} +
rm -f preview.img
mkfs.fat -C -F 16 -s 4 -n PREVIEWS --invariant preview.img 16384 >/dev/null
mcopy -m -i preview.img src/* ::/
