#!/usr/bin/env bash
# The real vantrel-cli carves databases, mail, books, help files, fonts,
# packages and disk images out of images made by plant_image.py: a SQLite
# file written by sqlite3, a TrueType font of the system, a help file
# compiled by chmcmd, an mbox file written by hand, and crafted Access,
# Money, Outlook, Outlook Express, help, music-library, keystore,
# password-safe, e-book, xar and bzip2 disk-image files (no Debian tool
# writes those); exact bytes in zero and random surroundings and across
# 4 MiB block boundaries, at sector sizes 512 and 4096, no image changed,
# damaged copies without a crash or hang.
# Usage: carve_db.sh VANTREL_CLI SOURCE_DIR
# Exits 77 (skipped) when sqlite3, chmcmd, bzip2 or a TrueType font is missing.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/carve_common.sh"

for t in sqlite3 chmcmd bzip2; do command -v $t > /dev/null || { echo "needs $t"; exit 77; }; done
FONT=$(ls /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf 2> /dev/null || fc-list --format '%{file}\n' 2> /dev/null | grep -m1 '\.ttf$')
[ -n "$FONT" ] || { echo "needs a TrueType font"; exit 77; }

# ---- fixtures -----------------------------------------------------------------
mkdir -p f chm
# SQLite: tables and an index over several pages, no free pages.
sqlite3 f/store.sqlite "PRAGMA page_size=4096;
  CREATE TABLE person(id INTEGER PRIMARY KEY, name TEXT, note TEXT);
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500)
  INSERT INTO person SELECT i, 'name ' || i, printf('%.40c', 'x') FROM n;
  CREATE INDEX person_name ON person(name); VACUUM;" || fail "sqlite3"
# Overflow chains and, after the deletes, free pages at the file's end.
sqlite3 f/blobs.sqlite "CREATE TABLE b(id INTEGER PRIMARY KEY, data BLOB);
  WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)
  INSERT INTO b SELECT i, randomblob(9000 + i * 37) FROM n; DELETE FROM b WHERE id % 3 = 0;" || fail "sqlite3"
cp "$FONT" f/font.ttf
# Compiled help; this compiler writes the second header GUID as a copy of the
# first, the byte that tells them apart is set as other compilers write it.
printf '<html><head><title>Help</title></head><body>%s</body></html>\n' "$(seq 1 3000 | tr '\n' ' ')" > chm/a.html
printf '<html><body>second page</body></html>\n' > chm/b.html
printf '[OPTIONS]\nCompiled file=help.chm\nDefault topic=a.html\nTitle=Help\n[FILES]\na.html\nb.html\n' > chm/p.hhp
(cd chm && chmcmd p.hhp > /dev/null 2>&1) || fail "chmcmd"
cp chm/help.chm f/help.chm && printf '\021' | dd of=f/help.chm bs=1 seek=40 conv=notrunc status=none
# mbox: two messages, the last a MIME message whose closing boundary line is
# followed by a blank line.
{
    printf 'From alice@example.org Mon Jan  5 10:00:00 2026\nFrom: Alice <alice@example.org>\nSubject: one\n\n'
    seq 1 2000 | sed 's/^/line /'
    printf '\nFrom bob@example.org Tue Jan  6 11:00:00 2026\nFrom: Bob <bob@example.org>\nSubject: two\n'
    printf 'MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary="b1"\n\n--b1\nContent-Type: text/plain\n\n'
    seq 1 700 | sed 's/^/text /'
    printf '\n--b1--\n\n'
} > f/mail.mbox
[ $(( $(stat -c %s f/mail.mbox) % 512 )) -ne 0 ] || printf 'x' >> f/mail.mbox
seq 1 60000 | bzip2 -1 > f/payload.bz2
python3 "$R/tests/RAWSearch/make_db_fixtures.py" f || fail "make_db_fixtures.py"

ALL=$(ls f/*)
# The mbox end is looked for only where a step ends in zeros, and keystores
# end only where zeros begin: random bytes after them belong to them.
NOT_ZERO_END=$(ls f/* | grep -Ev '\.(mbox|jks|psafe3)$')
plant zero.img --gap zero:262144 $ALL
plant random.img --gap random:4096 --seed 7 $NOT_ZERO_END
plant s512.img --align 512 --straddle 4194304:4 --gap zero:262144 $ALL
plant s4k.img --straddle 4194304:4 --gap zero:262144 $ALL

# What each file comes back as: the formats that end at zero padding (the
# keystores) take the data's end by a helper that may add one zero byte, or a
# whole sector when the file is shorter than a sector.
CHECK="python3 $R/tests/RAWSearch/check_raw_carve.py"
: > expect
expect() { printf '%s\t%s\t%s\t%s\t%s\n' "$@" >> expect; }
expect store.sqlite SQLITE exact 34/sqlite '{A}-[0-9]+'
expect blobs.sqlite SQLITE exact 34/sqlite '{A}-[0-9]+'
expect font.ttf TTF exact 34/ttf '[0-9A-Za-z_-]*'
expect help.chm CHM exact 34/chm '[0-9A-Za-z_-]*'
expect mail.mbox MBOX exact 34/mbox '[0-9A-Za-z_-]*'
expect crafted.mdb MDB exact 34/mdb '{A}-[0-9]+'
expect crafted.jks JKS padded 34/jks '{A}-[0-9]+'
expect crafted.psafe3 PSAFE3 padded 34/psafe3 '{A}-[0-9]+'
expect crafted.mobi MOBI exact 34/mobi '{A}-[0-9]+'
expect crafted.pkg pkg exact 34/pkg '[0-9A-Za-z_-]*'
expect crafted.dmg DMG exact 34/dmg '{A}-[0-9]+'
expect crafted.mny MNY exact 34/mny '[0-9A-Za-z_-]*'
expect crafted.pst PST exact 34/pst '[0-9A-Za-z_-]*'
expect crafted.dbx DBX exact 34/dbx '[0-9A-Za-z_-]*'
expect crafted.hlp HLP exact 34/hlp '[0-9A-Za-z_-]*'
expect crafted.itl ITL exact 34/itl '[0-9A-Za-z_-]*'

for ss in 512 4096; do
    for img in zero.img s512.img s4k.img; do
        [ $img = s512.img ] && [ $ss = 4096 ] && continue
        out=$W/out-${img%.img}-$ss
        carve_scan $img $ss "$out"
        check "$img at $ss" $CHECK $img "$out" "$out.list" expect $ss
    done
    # Random bytes may look like the start of something.
    out=$W/out-random-$ss
    carve_scan random.img $ss "$out"
    check "random.img at $ss" $CHECK random.img "$out" "$out.list" expect $ss --allow-extra
done

# What comes back opens with the tools that made it.
out=$W/out-zero-512
dbs=0
while IFS= read -r -d '' db; do
    dbs=$((dbs + 1))
    [ "$(sqlite3 "$db" 'PRAGMA integrity_check')" = ok ] || fail "carved $db fails its integrity check"
done < <(find "$out" -iname '*.SQLITE' -print0)
[ $dbs -eq 2 ] && ok "two carved SQLite files pass their integrity check" || fail "$dbs carved SQLite files"
mb=$(find "$out" -iname '*.MBOX' | head -n 1)
[ -n "$mb" ] && [ "$(grep -c '^From ' "$mb")" = 2 ] && ok "carved mbox holds two messages" || fail "carved mbox"

# Damaged copies: fewer files, never a crash, a hang or a file past the
# image's end.
python3 - "$W" f/* <<'PY'
import random, sys
w = sys.argv[1]
r = random.Random(21)
for i, path in enumerate(sys.argv[2:]):
    b = bytearray(open(path, "rb").read())
    for _ in range(40):
        at = r.randrange(0, min(len(b), 600))
        b[at] = r.randrange(256)
    for _ in range(20):
        at = r.randrange(0, len(b))
        b[at:at + 64] = bytes(r.randrange(256) for _ in range(64))
    open(f"{w}/f/damaged{i}.bin", "wb").write(b)
PY
plant damaged.img --gap zero:4096 f/damaged*.bin
for ss in 512 4096; do
    out=$W/out-damaged-$ss
    timeout 300 "$CLI" scan --deep-disk --sector-size $ss --list damaged.img > "$out.stdout" 2> "$out.stderr"
    rc=$?
    [ $rc -eq 0 ] && ok "damaged.img at $ss: scanned" || fail "damaged.img at $ss: exit $rc"
    size=$(stat -c %s damaged.img)
    bad=$(file_lines < "$out.stdout" | awk -F'\t' -v s=$size '$3 > s')
    [ -z "$bad" ] || fail "damaged.img at $ss: sizes past the image: $bad"
done

echo "$failures failures"
[ "$failures" -eq 0 ]
