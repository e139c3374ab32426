#!/usr/bin/env bash
# Makes the document fixtures of the document carving tests in OUT:
#   office/  t.doc t.xls t.ppt (compound files), t.docx t.xlsx t.pptx
#            (as the office suite writes them: sizes in data descriptors),
#            r.docx r.xlsx r.pptx (the same parts packed again with zip,
#            "[Content_Types].xml" first and sizes in every local header),
#            t.odt t.ods t.odp
#   zip/     stored.zip deflated.zip stream.zip (data descriptors) app.ipa
#   text/    t.rtf t.html u.htm (UTF-16 with a byte-order mark)
# Every office document carries a title, authors and dates (see META below).
# Usage: make_docs.sh OUT. Exits 77 when the office suite or zip is missing.
# The office suite stamps the time into every document and numbers some of
# its parts at random: the clock is stopped (see fixture_clock.sh), and the
# tests take any output a suite of another version or run may write.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../fixtures/fixture_clock.sh"
fixture_clock_script "$@"
OUT=$(realpath -m "$1")
command -v soffice > /dev/null && command -v zip > /dev/null && command -v unzip > /dev/null || exit 77
mkdir -p "$OUT/src" "$OUT/office" "$OUT/zip" "$OUT/text"
S=$OUT/src
# A private profile: parallel runs must not share the suite's user folder.
PROFILE="file://$OUT/profile"

ns='xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:meta="urn:oasis:names:tc:opendocument:xmlns:meta:1.0"'
# flat_doc FILE MIMETYPE TITLE INITIAL-CREATOR LAST-AUTHOR CREATED MODIFIED BODY
flat_doc() {
    cat > "$1" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<office:document $ns office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.$2">
 <office:meta>
  <dc:title>$3</dc:title>
  <meta:initial-creator>$4</meta:initial-creator>
  <dc:creator>$5</dc:creator>
  <meta:creation-date>$6</meta:creation-date>
  <dc:date>$7</dc:date>
 </office:meta>
 <office:body>$8</office:body>
</office:document>
XML
}
paragraphs=""
for i in $(seq 1 40); do paragraphs="$paragraphs<text:p>Paragraph $i of the carved report, with some words to fill it.</text:p>"; done
flat_doc "$S/t.fodt" text "Quarterly Report" "Alice Author" "Bob Editor" 2020-06-15T10:20:30 2021-03-04T05:06:07 \
    "<office:text>$paragraphs</office:text>"
flat_doc "$S/t.fods" spreadsheet "Budget Sheet" "Carol Counter" "Dave Ledger" 2019-01-02T03:04:05 2022-07-08T09:10:11 \
    '<office:spreadsheet><table:table table:name="S"><table:table-row><table:table-cell office:value-type="float" office:value="42"><text:p>42</text:p></table:table-cell></table:table-row></table:table></office:spreadsheet>'
flat_doc "$S/t.fodp" presentation "Launch Deck" "Erin Speaker" "Frank Slides" 2018-05-06T07:08:09 2023-10-11T12:13:14 \
    '<office:presentation><draw:page draw:name="p1"><draw:frame svg:x="1cm" svg:y="1cm" svg:width="10cm" svg:height="2cm"><draw:text-box><text:p>Slide one</text:p></draw:text-box></draw:frame></draw:page></office:presentation>'

convert() {  # convert SOURCE FORMAT OUTDIR
    soffice "-env:UserInstallation=$PROFILE" --headless --convert-to "$2" --outdir "$3" "$1" > /dev/null 2>&1
    [ -s "$3/$(basename "${1%.*}").${2%%:*}" ]
}
for f in doc docx odt rtf html; do convert "$S/t.fodt" $f "$OUT/office"; done
for f in xls xlsx ods; do convert "$S/t.fods" $f "$OUT/office"; done
for f in ppt pptx odp; do convert "$S/t.fodp" $f "$OUT/office"; done
mv "$OUT/office/t.rtf" "$OUT/office/t.html" "$OUT/text/"

# Packed again: "[Content_Types].xml" first, the relationship part that
# tells the kind next, the core properties third; sizes in local headers.
repack() {  # repack KIND RELS
    local d=$S/$1
    rm -rf "$d" && mkdir -p "$d"
    (cd "$d" && unzip -q "$OUT/office/t.$1") && fixture_touch "$d"
    rm -f "$OUT/office/r.$1"
    (cd "$d" && zip -q -X -D "$OUT/office/r.$1" "[Content_Types].xml" "$2" docProps/core.xml &&
        zip -q -X -D -r "$OUT/office/r.$1" . -x "[Content_Types].xml" "$2" docProps/core.xml)
}
repack docx word/_rels/document.xml.rels
repack xlsx xl/_rels/workbook.xml.rels
repack pptx ppt/_rels/presentation.xml.rels

# Plain archives.
mkdir -p "$S/files/Payload/App.app"
seq 1 3000 > "$S/files/numbers.txt"
fixture_random noise 20000 > "$S/files/noise.bin"
printf 'binary app stand-in\n' > "$S/files/Payload/App.app/App"
fixture_touch "$S/files"
(cd "$S/files" && zip -q -X -0 "$OUT/zip/stored.zip" numbers.txt noise.bin &&
    zip -q -X -9 "$OUT/zip/deflated.zip" numbers.txt noise.bin &&
    zip -q -X -r "$OUT/zip/app.ipa" Payload numbers.txt)
# Read from standard input, zip cannot know the entry's size before it has
# packed it (the entry is named "-" and carries a Zip64 field); standard
# input is the file itself, so the entry takes the file's time.
zip -q -X - - < "$S/files/numbers.txt" > "$OUT/zip/stream.zip"

# UTF-16 page with a byte-order mark.
{ printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$OUT/text/t.html"; } > "$OUT/text/u.htm"
rm -rf "$OUT/profile"
