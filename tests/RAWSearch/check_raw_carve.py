#!/usr/bin/env python3
"""Checks carved camera-raw and archive files against what was planted.

check_raw_carve.py IMAGE OUTDIR LIST EXPECT SECTOR_SIZE [NESTED] [--allow-extra]

IMAGE.manifest (plant_image.py) says where each copy lies. EXPECT has one
line per planted file name: name, extension, end rule, folder, name pattern
(tab-separated). The end rule is "exact" (the recovered file equals the copy),
"padded" (the copy followed by zero bytes up to less than two sectors: the
format names no exact end), "trimmed" (a start of the copy, all of whose
remaining bytes are zero padding) or "starts" (the copy followed by at most
two sectors of whatever follows it in the image) or "record" (the copy, or
the copy followed by zero bytes to the end of its 10,240-byte record: tar's
record padding where zeros follow). The folder is the listing's tree and folder
of the file ("36/Camera/NIKON CORPORATION", "34/tif"); the name pattern is
a regular expression the file name must match, with {A} standing for the
copy's start sector. Copies whose name EXPECT lacks must not come back.
Every recovered file must be one of the copies, and every listed size one of
the recovered files'. NESTED lists folders (comma-separated) of formats whose
members begin with a header of their own (tar): a file there that starts
inside a copy, at the sector its name gives, and holds the image's bytes from
there (zero padding aside) is a member's carve, not an extra. With
--allow-extra, files that match no copy are tolerated (random gaps may hold
what looks like a file's start).

Prints "checked=N" and exits 1 on any problem.
"""

import collections
import os
import re
import sys


def main():
    allow_extra = "--allow-extra" in sys.argv
    args = [a for a in sys.argv[1:] if a != "--allow-extra"]
    image, outdir, list_path, expect_path, ss = args[:5]
    nested = set(args[5].split(",")) if len(args) > 5 else set()
    ss = int(ss)
    expect = {}
    with open(expect_path) as f:
        for line in f:
            line = line.rstrip("\n")
            if line:
                name, ext, rule, folder, pattern = line.split("\t")
                expect[name] = (ext, rule, folder, pattern)
    copies = []
    with open(image + ".manifest") as f:
        for line in f:
            line = line.rstrip("\n")
            if line:
                offset, size, _, _, path = line.split("\t", 4)
                copies.append((int(offset), int(size), path))
    listed = []
    with open(list_path, errors="replace") as f:
        for line in f:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 5 and fields[0].isdigit() and fields[4] == "0":
                listed.append((fields[0], fields[1], int(fields[2])))
    files = {}
    for root, _, names in os.walk(outdir):
        for n in names:
            p = os.path.join(root, n)
            with open(p, "rb") as f:
                files[p] = f.read()

    problems = []
    used = set()
    used_lines = set()
    with open(image, "rb") as img:
        for offset, size, path in copies:
            img.seek(offset)
            data = img.read(size)
            base = os.path.basename(path)
            want = expect.get(base)
            match = [p for p in files if p not in used and files[p][:size] == data[:len(files[p])]]
            if want is None:
                if match:
                    problems.append("recovered although it must not be: %s as %s" % (path, match))
                continue
            ext, rule, folder, pattern = want
            good = []
            for p in match:
                rest = files[p][size:]
                if rule == "exact" and rest:
                    continue
                if rule == "padded" and (len(rest) >= 2 * ss or rest.count(0) != len(rest)):
                    continue
                if rule == "starts" and len(rest) >= 2 * ss:
                    continue
                if rule == "record" and (rest.count(0) != len(rest) or
                                         len(files[p]) not in (size, -(-size // 10240) * 10240)):
                    continue
                if rule != "trimmed" and len(files[p]) < size:
                    continue
                cut = data[len(files[p]):]
                if rule == "trimmed" and (not files[p] or cut.count(0) != len(cut)):
                    continue
                good.append(p)
            if not good:
                problems.append("missing: %s at %d (%d bytes); starts: %s" % (
                    path, offset, size, [(p, len(files[p])) for p in match]))
                continue
            regex = "^" + pattern.replace("{A}", str(offset // ss)) + r"_?[0-9]{3}\." + re.escape(ext) + "$"
            # Copies of one file differ only in where they start, which the
            # name tells.
            p = next((q for q in good if re.match(regex, os.path.basename(q))), good[0])
            used.add(p)
            name = os.path.basename(p)
            if not re.match(regex, name):
                problems.append("%s: name %s does not match %s" % (path, name, regex))
            tree, _, folder_path = folder.partition("/")
            line = next((i for i, (t, lp, ls) in enumerate(listed) if i not in used_lines and t == tree
                         and lp == "/" + folder_path + "/" + name and ls == len(files[p])), None)
            if line is None:
                problems.append("%s: no listing line %s/%s/%s of %d bytes" % (path, tree, folder_path, name,
                                                                              len(files[p])))
            else:
                used_lines.add(line)
    def nested_carve(p):
        if os.path.basename(os.path.dirname(p)) not in nested:
            return False
        m = re.match(r"^([0-9]+)-[0-9]+_", os.path.basename(p))
        if not m:
            return False
        start = int(m.group(1)) * ss
        if not any(offset < start < offset + size for offset, size, _ in copies):
            return False
        with open(image, "rb") as img:
            img.seek(start)
            want = img.read(len(files[p]))
        data = files[p]
        cut = len(want.rstrip(b"\0"))
        return data[:cut] == want[:cut] and data[cut:].count(0) == len(data) - cut

    extras = [p for p in files if p not in used and not nested_carve(p)]
    for p in extras if not allow_extra else []:
        problems.append("extra: %s (%d bytes)" % (p, len(files[p])))
    have = collections.Counter(len(d) for d in files.values())
    sizes = collections.Counter(s for _, _, s in listed)
    if have != sizes:
        problems.append("listed sizes %s differ from recovered sizes %s" % (dict(sizes - have), dict(have - sizes)))
    print("checked=%d extra=%d" % (len(used), len(extras)))
    for line in problems:
        print("  " + line)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
