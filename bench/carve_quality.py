#!/usr/bin/env python3
"""Plants a corpus of real files in disk images and scores carved outputs.

carve_quality.py plant CORPUS IMAGE KIND SEED
    KIND "zero": files at 4096-byte boundaries, zero slack and zero gaps;
    "used": the slack after each file and the gaps between files hold old
    data (seeded random bytes, pieces of binaries under /usr/lib, text).
    Writes IMAGE and IMAGE.manifest (offset, size, path per line).
carve_quality.py variants CORPUS OUTDIR COUNT SEED
    Writes COUNT files of distinct content into OUTDIR: copies of the
    corpus's pictures and audio with a unique comment, tag or chunk, and
    documents, archives and databases written afresh (for the reformatted
    disk).
carve_quality.py count ORIGINALS TOOL OUTDIR SECONDS [DELETED_LIST]
    Counts the files of ORIGINALS whose exact content is among the files
    under OUTDIR, in total and for the names listed in DELETED_LIST; prints
    tool originals found deleted found-deleted outputs bytes seconds.
carve_quality.py score IMAGE TOOL OUTDIR SECONDS
    Scores every file under OUTDIR against IMAGE.manifest and prints one
    line per format and a total, as tab-separated fields:
    tool format planted exact prefix toolong merged missing outputs bytes seconds
"""

import collections
import gzip
import hashlib
import io
import os
import random
import sqlite3
import struct
import sys
import tarfile
import tempfile
import zipfile
import zlib

CLUSTER = 4096
HEAD = 64


def old_data(rng, size, pieces):
    """Bytes a used disk may hold: random bytes, binary pieces, text."""
    out = bytearray()
    while len(out) < size:
        kind = rng.randrange(3)
        n = min(size - len(out), rng.randrange(256, 65536))
        if kind == 0 or not pieces:
            out += rng.randbytes(n)
        else:
            src = pieces[rng.randrange(len(pieces))] if kind == 1 else pieces[-1]
            at = rng.randrange(max(1, len(src) - n))
            out += src[at:at + n]
    return bytes(out[:size])


def load_pieces():
    pieces = []
    for d in ("/usr/lib/x86_64-linux-gnu", "/usr/lib"):
        if not os.path.isdir(d):
            continue
        for name in sorted(os.listdir(d)):
            p = os.path.join(d, name)
            if name.endswith(".so") or ".so." in name:
                try:
                    with open(p, "rb") as f:
                        pieces.append(f.read(1 << 20))
                except OSError:
                    pass
            if len(pieces) >= 12:
                break
    text = b""
    lic = "/usr/share/common-licenses"
    if os.path.isdir(lic):
        for name in sorted(os.listdir(lic)):
            try:
                with open(os.path.join(lic, name), "rb") as f:
                    text += f.read()
            except OSError:
                pass
    pieces.append(text or b"old text\n" * 1000)
    return pieces


def plant(corpus, image, kind, seed):
    rng = random.Random(int(seed))
    files = []
    for root, _, names in os.walk(corpus):
        for name in sorted(names):
            p = os.path.join(root, name)
            if os.path.getsize(p) > 0:
                files.append(p)
    files.sort()
    rng.shuffle(files)
    pieces = load_pieces() if kind == "used" else []
    img = bytearray(CLUSTER * 16)
    if kind == "used":
        img[:] = old_data(rng, len(img), pieces)
    manifest = []
    for p in files:
        with open(p, "rb") as f:
            data = f.read()
        at = len(img)
        manifest.append((at, len(data), os.path.relpath(p, corpus)))
        img += data
        slack = -len(img) % CLUSTER
        gap = slack + CLUSTER * rng.randrange(0, 4)
        img += old_data(rng, gap, pieces) if kind == "used" else bytes(gap)
    img += old_data(rng, CLUSTER * 16, pieces) if kind == "used" else bytes(CLUSTER * 16)
    img += bytes(-len(img) % (1 << 20))
    with open(image, "wb") as f:
        f.write(img)
    with open(image + ".manifest", "w") as f:
        for at, size, path in manifest:
            f.write("%d\t%d\t%s\n" % (at, size, path))


def fmt_of(path):
    base = os.path.basename(path)
    return base.rsplit(".", 1)[-1].lower() if "." in base else "?"


def score(image, tool, outdir, seconds):
    with open(image, "rb") as f:
        img = f.read()
    planted = []
    with open(image + ".manifest") as f:
        for line in f:
            at, size, path = line.rstrip("\n").split("\t")
            planted.append((int(at), int(size), path))
    heads = {}
    for i, (at, size, path) in enumerate(planted):
        heads.setdefault(img[at:at + HEAD], []).append(i)
    outputs = []
    for root, _, names in os.walk(outdir):
        for name in names:
            p = os.path.join(root, name)
            if os.path.isfile(p) and not name.endswith((".log", ".xml")) and name != "report.xml":
                outputs.append(p)
    result = {}  # planted index -> best class
    rank = {"exact": 4, "prefix": 2, "toolong": 3}
    merged = collections.Counter()
    written = 0
    for p in outputs:
        with open(p, "rb") as f:
            data = f.read()
        written += len(data)
        for i in heads.get(data[:HEAD], []):
            at, size, path = planted[i]
            n = min(size, len(data))
            if data[:n] != img[at:at + n]:
                continue
            cls = "exact" if len(data) == size else "prefix" if len(data) < size else "toolong"
            if rank[cls] > rank.get(result.get(i, ""), 0):
                result[i] = cls
            # Holds the head of another planted file that lies after it.
            end = at + len(data)
            for j, (bt, bsize, bpath) in enumerate(planted):
                if at < bt < end and data[bt - at:bt - at + HEAD] == img[bt:bt + HEAD]:
                    merged[fmt_of(path)] += 1
                    break
            break
    rows = collections.OrderedDict()
    for i, (at, size, path) in enumerate(planted):
        r = rows.setdefault(fmt_of(path), collections.Counter())
        r["planted"] += 1
        r[result.get(i, "missing")] += 1
    total = collections.Counter()
    for f in sorted(rows):
        r = rows[f]
        r["merged"] = merged[f]
        total.update(r)
        print_row(tool, f, r, "", "", "")
    print_row(tool, "TOTAL", total, len(outputs), written, seconds)


def print_row(tool, f, r, outputs, written, seconds):
    print("\t".join(str(x) for x in (tool, f, r["planted"], r["exact"], r["prefix"], r["toolong"], r["merged"],
                                      r["missing"], outputs, written, seconds)))


# ---- the reformatted disk's files -------------------------------------------------

def jpeg_variant(data, text):
    """A comment segment after the application segments that open the file."""
    at = 2
    while at + 4 <= len(data) and data[at] == 0xFF and 0xE0 <= data[at + 1] <= 0xEF:
        at += 2 + struct.unpack(">H", data[at + 2:at + 4])[0]
    body = text.encode()
    return data[:at] + b"\xff\xfe" + struct.pack(">H", len(body) + 2) + body + data[at:]


def png_variant(data, text):
    """A text chunk right after the header chunk."""
    body = b"Comment\0" + text.encode()
    chunk = struct.pack(">I", len(body)) + b"tEXt" + body + struct.pack(">I", zlib.crc32(b"tEXt" + body))
    return data[:33] + chunk + data[33:]


def mp3_variant(data, text):
    """A comment frame in a fresh ID3 tag before the frames."""
    while data[:3] == b"ID3" and len(data) > 10:
        size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
        data = data[10 + size:]
    body = b"\0" + text.encode()
    frame = b"TXXX" + struct.pack(">I", len(body)) + b"\0\0" + body
    n = len(frame)
    size = bytes([(n >> 21) & 127, (n >> 14) & 127, (n >> 7) & 127, n & 127])
    return b"ID3\3\0\0" + size + frame + data


def bmp(rng, w, h):
    row = (w * 3 + 3) & ~3
    pixels = bytes(rng.randrange(256) for _ in range(row)) * h
    head = b"BM" + struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    return head + info + pixels


def pdf(text):
    content = ("BT /F1 18 Tf 72 720 Td (%s) Tj ET" % text).encode()
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R "
               b"/Resources << /Font << /F1 5 0 R >> >> >>",
               b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    out = bytearray(b"%PDF-1.4\n")
    offsets = []
    for i, o in enumerate(objects, 1):
        offsets.append(len(out))
        out += b"%d 0 obj\n" % i + o + b"\nendobj\n"
    xref = len(out)
    out += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1)
    for o in offsets:
        out += b"%010d 00000 n \n" % o
    out += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    return bytes(out)


def wav(rng, seconds):
    import wave
    b = io.BytesIO()
    with wave.open(b, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        step = rng.randrange(50, 400)
        w.writeframes(b"".join(struct.pack("<h", ((i * step) % 20000) - 10000) for i in range(8000 * seconds)))
    return b.getvalue()


def midi(rng):
    events = b"".join(bytes([0, 0x90, 40 + rng.randrange(40), 100, 96, 0x80, 40, 0])
                      for _ in range(rng.randrange(200, 2000)))
    events += b"\0\xff\x2f\0"
    return b"MThd" + struct.pack(">IHHH", 6, 0, 1, 96) + b"MTrk" + struct.pack(">I", len(events)) + events


def sqlite_db(rng, n):
    fd, path = tempfile.mkstemp(suffix=".sqlite")
    os.close(fd)
    os.unlink(path)
    db = sqlite3.connect(path)
    db.execute("create table t(a, b)")
    db.executemany("insert into t values(?, ?)", [(i, "row %d %d" % (i, rng.randrange(1 << 30))) for i in range(n)])
    db.commit()
    db.close()
    with open(path, "rb") as f:
        data = f.read()
    os.unlink(path)
    return data


def text_lines(rng, n):
    return " ".join(str(rng.randrange(1 << 20)) for _ in range(n))


def variants(corpus, outdir, count, seed):
    rng = random.Random(int(seed))
    os.makedirs(outdir, exist_ok=True)
    seeds = collections.defaultdict(list)
    for name in sorted(os.listdir(corpus)):
        ext = name.rsplit(".", 1)[-1].lower()
        with open(os.path.join(corpus, name), "rb") as f:
            seeds[ext].append(f.read())

    def make(i, kind):
        tag = "file %d of the old disk %d" % (i, rng.randrange(1 << 30))
        if kind == "jpg" and seeds["jpg"]:
            return jpeg_variant(rng.choice(seeds["jpg"]), tag)
        if kind == "png" and seeds["png"]:
            return png_variant(rng.choice(seeds["png"]), tag)
        if kind == "mp3" and seeds["mp3"]:
            return mp3_variant(rng.choice(seeds["mp3"]), tag)
        if kind == "bmp":
            return bmp(rng, rng.randrange(16, 300), rng.randrange(16, 200))
        if kind == "pdf":
            # Large enough to live outside the file records.
            return pdf(tag + " " + text_lines(rng, rng.randrange(300, 3000)))
        if kind == "html":
            return ("<html>\n<head><title>%s</title></head>\n<body>\n<p>%s</p>\n</body>\n</html>\n"
                    % (tag, text_lines(rng, rng.randrange(10, 3000)))).encode()
        if kind == "rtf":
            return ("{\\rtf1\\ansi{\\fonttbl\\f0\\fswiss Helvetica;}\\f0\\pard %s %s.\\par\n}\n"
                    % (tag, text_lines(rng, rng.randrange(10, 3000)))).encode()
        if kind == "svg":
            rects = "".join('<rect x="%d" y="%d" width="5" height="5"/>' % (rng.randrange(500), rng.randrange(500))
                            for _ in range(rng.randrange(1, 400)))
            return ('<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg"><title>%s</title>%s</svg>\n'
                    % (tag, rects)).encode()
        if kind == "gz":
            return gzip.compress((tag + "\n" + text_lines(rng, rng.randrange(100, 30000))).encode(), mtime=0)
        if kind == "zip":
            b = io.BytesIO()
            with zipfile.ZipFile(b, "w", zipfile.ZIP_DEFLATED) as z:
                for k in range(rng.randrange(1, 6)):
                    z.writestr(zipfile.ZipInfo("part%d.txt" % k, (2020, 1, 2, 3, 4, 6)),
                               tag + text_lines(rng, rng.randrange(10, 5000)))
            return b.getvalue()
        if kind == "tar":
            b = io.BytesIO()
            with tarfile.open(fileobj=b, mode="w", format=tarfile.USTAR_FORMAT) as t:
                for k in range(rng.randrange(1, 4)):
                    body = (tag + text_lines(rng, rng.randrange(10, 5000))).encode()
                    info = tarfile.TarInfo("dir/part%d.txt" % k)
                    info.size = len(body)
                    info.mtime = 1600000000
                    t.addfile(info, io.BytesIO(body))
            return b.getvalue()
        if kind == "wav":
            return wav(rng, rng.randrange(1, 4))
        if kind == "mid":
            return midi(rng)
        if kind == "sqlite":
            return sqlite_db(rng, rng.randrange(10, 3000))
        return None

    kinds = ["jpg", "jpg", "jpg", "png", "mp3", "bmp", "pdf", "pdf", "html", "rtf", "svg", "gz", "zip", "tar",
             "wav", "mid", "sqlite"]
    made = 0
    i = 0
    while made < int(count) and i < 10 * int(count):
        kind = kinds[i % len(kinds)]
        data = make(i, kind)
        i += 1
        if not data:
            continue
        with open(os.path.join(outdir, "f%04d.%s" % (made, kind)), "wb") as f:
            f.write(data)
        made += 1


def count(originals, tool, outdir, seconds, deleted_list=None):
    deleted = set()
    if deleted_list and os.path.exists(deleted_list):
        with open(deleted_list) as f:
            deleted = {line.strip() for line in f if line.strip()}
    found_hashes = set()
    outputs = 0
    written = 0
    for root, _, names in os.walk(outdir):
        for name in names:
            p = os.path.join(root, name)
            if not os.path.isfile(p) or name.endswith((".log", ".xml")):
                continue
            with open(p, "rb") as f:
                data = f.read()
            outputs += 1
            written += len(data)
            found_hashes.add(hashlib.sha1(data).digest())
    total = found = ndeleted = found_deleted = 0
    per = collections.Counter()
    for name in sorted(os.listdir(originals)):
        with open(os.path.join(originals, name), "rb") as f:
            h = hashlib.sha1(f.read()).digest()
        total += 1
        hit = h in found_hashes
        found += hit
        per[(fmt_of(name), hit)] += 1
        if name in deleted:
            ndeleted += 1
            found_deleted += hit
    print("\t".join(str(x) for x in (tool, "TOTAL", total, found, ndeleted, found_deleted, outputs, written, seconds)))
    for fmt in sorted({f for f, _ in per}):
        print("\t".join(str(x) for x in (tool, fmt, per[(fmt, True)] + per[(fmt, False)], per[(fmt, True)],
                                          "", "", "", "", "")))


if __name__ == "__main__":
    if sys.argv[1] == "plant":
        plant(*sys.argv[2:6])
    elif sys.argv[1] == "variants":
        variants(*sys.argv[2:6])
    elif sys.argv[1] == "count":
        count(*sys.argv[2:7])
    else:
        score(*sys.argv[2:6])
