#!/usr/bin/env python3
"""Writes the crafted database, mail, keystore, book and package files of the
carving tests into OUT (formats no Debian tool writes): an Access database of
ten pages, a Money file, Outlook and Outlook Express stores, a help file, a
music library file, a Java keystore, a password safe, an e-book with its end
record, a xar installer package and a bzip2 disk image with its 512-byte
trailer.

make_db_fixtures.py OUT
"""

import os
import random
import struct
import sys
import zlib

out = sys.argv[1]
rng = random.Random(11)


def body(n):
    return bytes(rng.randrange(1, 256) for _ in range(n))


def write(name, data):
    with open(os.path.join(out, name), "wb") as f:
        f.write(data)


# Access: a header page and nine data and table pages.
mdb = bytearray(b"\x00\x01\x00\x00Standard Jet DB\x00" + body(4096 - 20))
for i in range(9):
    mdb += bytes([1 + (i % 3), 1]) + body(4094)
write("crafted.mdb", mdb)

# Files that state their size: Money (always a megabyte), an Outlook store of
# format 23, an Outlook Express folder, a help file and a music library.
# The search offers Money's probe the sectors that begin with "MS".
write("crafted.mny", b"MS\x01\x00MSISAM Database" + body(0x100000 - 19))
pst = bytearray(b"!BDN" + body(70000 - 4))
pst[10] = 23
struct.pack_into("<I", pst, 184, len(pst))
write("crafted.pst", pst)
dbx = bytearray(bytes.fromhex("cfad12fec5fd746f66e3d1119a4e00c0") + body(30000 - 16))
struct.pack_into("<I", dbx, 124, len(dbx))
write("crafted.dbx", dbx)
hlp = bytearray(b"\x3f\x5f\x03\x00" + body(9000 - 4))
struct.pack_into("<II", hlp, 4, 16, 0xFFFFFFFF)
struct.pack_into("<I", hlp, 12, len(hlp))
write("crafted.hlp", hlp)
itl = bytearray(b"hdfm" + body(12345 - 4))
struct.pack_into(">I", itl, 8, len(itl))
write("crafted.itl", itl)

# Keystore and password safe: their ends are where zeros begin.
write("crafted.jks", b"\xfe\xed\xfe\xed\x00\x00\x00\x02\x00\x00\x00\x01" + body(3301))
write("crafted.psafe3", b"PWS3" + body(5123))

# E-book: a database header, a record list and records, the last of which is
# the end record E9 8E 0D 0A.
sizes = [2000, 7000, 300, 12000, 4]
count = len(sizes)
first = 78 + 8 * count + 2
offsets = []
at = first
for s in sizes:
    offsets.append(at)
    at += s
head = bytearray(b"Crafted_Book".ljust(32, b"\x00"))
head += struct.pack(">HHIIIIII", 0, 0, 1, 1, 0, 0, 0, 0)  # to byte 60
head += b"BOOKMOBI" + struct.pack(">IIH", 0, 0, count)  # seed, next list, records
for i, o in enumerate(offsets):
    head += struct.pack(">II", o, 2 * i)
head += b"\x00\x00"
book = bytes(head)
for s in sizes[:-1]:
    book += body(s)
book += b"\xe9\x8e\x0d\x0a"
assert len(head) == first and len(book) == at
write("crafted.mobi", book)

# xar package: the table of contents names files 1 to 3; file 3, nested in
# folder 1, holds the heap's last bytes, file 2 comes after it in the text.
heap = body(20) + body(5000) + body(3000)
toc = (b'<?xml version="1.0" encoding="UTF-8"?>\n<xar><toc>'
       b'<checksum style="sha1"><offset>0</offset><size>20</size></checksum>'
       b'<file id="1"><name>folder</name><type>directory</type>'
       b'<file id="3"><data><offset>5020</offset><length>3000</length><size>3000</size></data>'
       b'<name>b.bin</name><type>file</type></file></file>'
       b'<file id="2"><data><offset>20</offset><length>5000</length><size>5000</size></data>'
       b'<name>a.bin</name><type>file</type></file>'
       b'</toc></xar>\n')
packed = zlib.compress(toc)
xar = b"xar!" + struct.pack(">HHQQI", 28, 1, len(packed), len(toc), 1) + packed + heap
write("crafted.pkg", xar)

# Disk image: a bzip2 stream (made by the caller) padded so that the 512-byte
# trailer ends on a 4096-byte boundary.
with open(os.path.join(out, "payload.bz2"), "rb") as f:
    stream = f.read()
koly = bytearray(512)
koly[0:4] = b"koly"
struct.pack_into(">III", koly, 4, 4, 512, 1)
struct.pack_into(">Q", koly, 0x18, len(stream))
koly[0x50:0x60] = body(16)
image = bytearray(stream)
image += b"\x00" * ((-len(image) - 512) % 4096)
image += koly
write("crafted.dmg", image)
os.remove(os.path.join(out, "payload.bz2"))
