#!/usr/bin/env python3
"""Plants a corpus of real files in disk images and scores carved outputs.

carve_quality.py plant CORPUS IMAGE KIND SEED
    KIND "zero": files at 4096-byte boundaries, zero slack and zero gaps;
    "used": the slack after each file and the gaps between files hold old
    data (seeded random bytes, pieces of binaries under /usr/lib, text).
    Writes IMAGE and IMAGE.manifest (offset, size, path per line).
carve_quality.py score IMAGE TOOL OUTDIR SECONDS
    Scores every file under OUTDIR against IMAGE.manifest and prints one
    line per format and a total, as tab-separated fields:
    tool format planted exact prefix toolong merged missing outputs bytes seconds
"""

import collections
import hashlib
import os
import random
import sys

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


if __name__ == "__main__":
    if sys.argv[1] == "plant":
        plant(*sys.argv[2:6])
    else:
        score(*sys.argv[2:6])
