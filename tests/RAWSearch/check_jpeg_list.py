#!/usr/bin/env python3
"""Checks the JPEG lines of a `vantrel-cli scan --list` output against the
copies plant_image.py planted (IMAGE.manifest).

check_jpeg_list.py IMAGE LIST SECTOR_SIZE names       names, folders, times and sizes
check_jpeg_list.py IMAGE OUTDIR SECTOR_SIZE covers    each copy is the start of its own recovered file,
                                                      and no other file was recovered

In "names" mode the times the pictures carry come from TIMES, lines of
"source path<TAB>YYYY:MM:DD HH:MM:SS".
"""

import hashlib
import os
import re
import sys

PLAIN = re.compile(r"^/jpg/(\d+)-(\d+)(\d{3,})\.JPG$")
XIAOMI = re.compile(r"^/Camera/XIAOMI/XIAOMI_Mi A3_[0-9]+-[0-9]+[0-9]{3,}\.JPG$")


def manifest(image):
    copies = []
    with open(image + ".manifest") as f:
        for line in f:
            offset, size, _, _, path = line.rstrip("\n").split("\t", 4)
            copies.append((int(offset), int(size), path))
    return copies


def file_lines(list_path):
    lines = []
    with open(list_path, errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 7 and fields[0] in ("34", "36") and fields[4] == "0":
                lines.append(fields)
    return lines


def start_of(path):
    """The start sector a carved JPEG's name carries (the counter's width is
    not known, but the start is the first number)."""
    m = re.search(r"(?:^|_|/)(\d+)-\d+\.JPG$", path)
    return int(m.group(1)) if m else None


def iso(exif_time):
    d, t = exif_time.split(" ")
    return d.replace(":", "-") + "T" + t + "Z"


def main():
    image, listing, ss, mode = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
    copies = manifest(image)
    problems = []

    if mode == "covers":
        # Files are indexed by their first bytes, so that large images check
        # quickly without holding every file in memory.
        head = min([1024] + [size for _, size, _ in copies])
        paths = []
        for root, _, names in os.walk(listing):
            paths.extend(os.path.join(root, name) for name in names)
        index = {}
        for path in paths:
            with open(path, "rb") as f:
                index.setdefault(f.read(head), []).append(path)
        # Digests of a file's first n bytes, read once for all copies of one
        # picture.
        digests = {}

        def digest(path, n):
            if (path, n) not in digests:
                with open(path, "rb") as f:
                    digests[(path, n)] = hashlib.sha256(f.read(n)).digest()
            return digests[(path, n)]

        used = set()
        with open(image, "rb") as img:
            for offset, size, path in copies:
                img.seek(offset)
                data = img.read(size)
                want = hashlib.sha256(data).digest()
                match = [c for c in index.get(data[:head], [])
                         if c not in used and os.path.getsize(c) >= size and digest(c, size) == want]
                if not match:
                    problems.append("no recovered file starts with %s at %d" % (path, offset))
                else:
                    used.add(min(match, key=os.path.getsize))
        if len(paths) != len(copies):
            problems.append("%d files recovered for %d copies" % (len(paths), len(copies)))
    else:
        lines = file_lines(listing)
        by_start = {}
        for fields in lines:
            by_start.setdefault(start_of(fields[1]), []).append(fields)
        times = dict(l.rstrip("\n").split("\t", 1) for l in open(os.environ["TIMES"]) if "\t" in l)
        for offset, size, path in copies:
            base = os.path.basename(path)
            got = by_start.get(offset // ss, [])
            if "/absent/" in path:
                if got:
                    problems.append("absent %s listed: %s" % (path, got[0][1]))
                continue
            if len(got) != 1:
                problems.append("%s at sector %d: %d lines" % (path, offset // ss, len(got)))
                continue
            tree, name, length, _, _, created, modified = got[0][:7]
            if int(length) != size:
                problems.append("%s: size %s, want %d" % (path, length, size))
            want_time = iso(times[path]) if times.get(path) else ""
            if base == "canon-jfif.jpg":
                ok = tree == "36" and name.startswith("/Camera/CANON/CANON_Canon PowerShot SX530 HS_")
            elif base == "canon-le.jpg":
                ok = tree == "36" and name.startswith("/Camera/CANON/CANON_Canon EOS 5D Mark II_")
            elif base == "fuji.jpg":
                ok = tree == "36" and re.match(r"^/Camera/FUJIFILM/FUJIFILM_\d+-\d+\d{3,}\.JPG$", name)
            elif want_time:
                ok = tree == "36" and XIAOMI.match(name)
            else:
                ok = tree == "34" and PLAIN.match(name)
            if not ok:
                problems.append("%s: listed as tree %s %s" % (path, tree, name))
            if (created, modified) != (want_time, want_time):
                problems.append("%s: times %s %s, want %s" % (path, created, modified, want_time or "none"))
        wanted = sum(1 for c in copies if "/absent/" not in c[2])
        if len(lines) != wanted:
            problems.append("%d lines for %d good copies" % (len(lines), wanted))

    for p in problems:
        print("  " + p)
    print("%s: %s" % (mode, "ok" if not problems else "%d problems" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
