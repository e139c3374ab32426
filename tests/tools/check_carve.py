#!/usr/bin/env python3
"""Checks recovered files against the copies plant_image.py planted.

check_carve.py IMAGE OUTDIR [--prefix] [--absent GLOB] [--list FILE] [--allow-extra]

Each copy's original is IMAGE[offset, offset + size) (IMAGE.manifest says
where). Every copy whose source path does not match --absent must equal a
distinct recovered file (with --prefix it may instead be a non-empty start of
the copy). No recovered file may start with an absent copy's first 512 bytes.
With --list (the scan's --list output), the sizes on its file lines must equal
the recovered files' sizes as a multiset. Recovered files that match no copy
fail unless --allow-extra.

Prints "exact=A/N prefix=B/N absent=C/M extra=K" and exits 1 on any
shortfall.
"""

import argparse
import collections
import fnmatch
import hashlib
import os
import sys


def read_manifest(image):
    copies = []
    with open(image + ".manifest") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line:
                continue
            offset, size, digest, kind, path = line.split("\t", 4)
            copies.append({"offset": int(offset), "size": int(size), "sha256": digest, "gap": kind, "path": path})
    return copies


def recovered_files(outdir):
    found = []
    for root, _, names in os.walk(outdir):
        for name in names:
            found.append(os.path.join(root, name))
    return sorted(found)


def listed_sizes(list_path):
    sizes = []
    with open(list_path, errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            # tree path size deleted is_dir created modified
            if len(fields) < 5 or not fields[0].isdigit() or fields[4] != "0":
                continue
            sizes.append(int(fields[2]))
    return sizes


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("image")
    parser.add_argument("outdir")
    parser.add_argument("--prefix", action="store_true")
    parser.add_argument("--absent", action="append", default=[])
    parser.add_argument("--list", dest="list_file")
    parser.add_argument("--allow-extra", action="store_true")
    parser.add_argument("--verbose", "-v", action="store_true")
    args = parser.parse_args()

    copies = read_manifest(args.image)
    files = recovered_files(args.outdir)
    contents = {}
    by_digest = collections.defaultdict(list)
    for path in files:
        with open(path, "rb") as f:
            data = f.read()
        contents[path] = data
        by_digest[hashlib.sha256(data).hexdigest()].append(path)

    used = set()
    wanted = [c for c in copies if not any(fnmatch.fnmatch(c["path"], g) for g in args.absent)]
    absent = [c for c in copies if c not in wanted]
    exact = prefix = 0
    problems = []
    with open(args.image, "rb") as image:

        def original(copy):
            image.seek(copy["offset"])
            return image.read(copy["size"])

        for copy in wanted:
            data = original(copy)
            digest = hashlib.sha256(data).hexdigest()
            match = next((p for p in by_digest.get(digest, []) if p not in used), None)
            if match:
                used.add(match)
                exact += 1
                continue
            if args.prefix:
                candidates = [p for p in files if p not in used and 0 < len(contents[p]) <= len(data)
                              and data.startswith(contents[p])]
                if candidates:
                    best = max(candidates, key=lambda p: len(contents[p]))
                    used.add(best)
                    prefix += 1
                    continue
            problems.append("missing: %s at %d (%d bytes)" % (copy["path"], copy["offset"], copy["size"]))

        kept_out = 0
        for copy in absent:
            head = original(copy)[:512]
            starts = [p for p in files if contents[p].startswith(head)]
            if starts:
                problems.append("recovered although absent: %s at %d as %s" % (copy["path"], copy["offset"],
                                                                              ", ".join(starts)))
            else:
                kept_out += 1

    extras = [p for p in files if p not in used]
    if extras and not args.allow_extra:
        for p in extras:
            problems.append("extra: %s (%d bytes)" % (p, len(contents[p])))

    if args.list_file:
        listed = collections.Counter(listed_sizes(args.list_file))
        have = collections.Counter(len(contents[p]) for p in files)
        if listed != have:
            problems.append("listed sizes differ from recovered sizes: listed only %s, recovered only %s" % (
                dict(listed - have), dict(have - listed)))

    print("exact=%d/%d prefix=%d/%d absent=%d/%d extra=%d" % (exact, len(wanted), prefix, len(wanted), kept_out,
                                                              len(absent), len(extras)))
    for line in problems:
        print("  " + line)
    short = exact + prefix < len(wanted) or kept_out < len(absent) or (extras and not args.allow_extra)
    if args.list_file and any(p.startswith("listed sizes") for p in problems):
        short = True
    return 1 if short else 0


if __name__ == "__main__":
    sys.exit(main())
