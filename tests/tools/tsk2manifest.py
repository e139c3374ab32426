#!/usr/bin/env python3
"""Writes the manifest of a FAT or NTFS image from The Sleuth Kit's view of it.

Usage: tsk2manifest.py IMG [OFFSET]     (OFFSET: first sector of the volume)

The first line describes the volume:
    # fs=FAT16 sectors_per_unit=1 unit_base=0 root=2
then one tab-separated line per file or folder (deleted ones included):
    id parent is_dir deleted size ctime mtime atime compressed name runs
ids are inode numbers; times are in 100-ns units since 1601 (0 when
unknown); names are percent-encoded below 0x20 and for "%"; runs are
"start:length" pairs in allocation units, separated by ",", with -1 as the
start of a sparse run. FAT units are sectors (unit base OFFSET), NTFS units
are clusters.
"""
import calendar
import re
import subprocess
import sys

EPOCH_DIFF = 11644473600


def tsk(*args):
    return subprocess.run(args, check=True, capture_output=True, text=True,
                          errors="surrogateescape").stdout


def file_time(text):
    """'2024-05-01 12:34:56.123456700 (UTC)' -> 100-ns units since 1601."""
    m = re.match(r"(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d+))?", text.strip())
    if not m or m.group(1) == "0000":
        return 0
    y, mo, d, h, mi, s = (int(m.group(i)) for i in range(1, 7))
    if y < 1601:
        return 0
    secs = calendar.timegm((y, mo, d, h, mi, s, 0, 0, 0))
    frac = (m.group(7) or "").ljust(7, "0")[:7]
    return (secs + EPOCH_DIFF) * 10_000_000 + int(frac)


def encode_name(raw):
    out = bytearray()
    for b in raw:
        if b < 0x20 or b == 0x25:
            out += b"%%%02X" % b
        else:
            out.append(b)
    return out.decode("utf-8", "surrogateescape")


def coalesce(units):
    """Unit list (None = sparse) -> [(start, length)]."""
    runs = []
    for u in units:
        if runs:
            start, length = runs[-1]
            if u is None and start == -1:
                runs[-1] = (-1, length + 1)
                continue
            if u is not None and start != -1 and start + length == u:
                runs[-1] = (start, length + 1)
                continue
        runs.append((-1, 1) if u is None else (u, 1))
    return runs


def parse_istat(text, ntfs):
    info = {"size": 0, "ctime": 0, "mtime": 0, "atime": 0, "compressed": 0, "units": []}
    lines = text.splitlines()
    if ntfs:
        section = None
        for line in lines:
            if line.startswith("$STANDARD_INFORMATION"):
                section = "si"
            elif line.endswith("Attribute Values:"):
                section = None
            if section == "si":
                for key, field in (("Created:", "ctime"), ("File Modified:", "mtime"), ("Accessed:", "atime")):
                    if line.startswith(key):
                        info[field] = file_time(line[len(key):])
        data_at = None
        for i, line in enumerate(lines):
            if line.startswith("Type: $DATA") and "Name: N/A" in line:
                data_at = i
                m = re.search(r"size: (\d+)", line)
                if m:
                    info["size"] = int(m.group(1))
                info["compressed"] = 1 if "Compressed" in line else 0
                break
        if data_at is not None and "Non-Resident" in lines[data_at]:
            for line in lines[data_at + 1:]:
                if not re.match(r"^[\d ]+$", line) or not line.strip():
                    break
                info["units"] += [None if int(x) == 0 else int(x) for x in line.split()]
    else:
        in_sectors = False
        for line in lines:
            if line.startswith("Size:"):
                info["size"] = int(line.split()[1])
            for key, field in (("Created:", "ctime"), ("Written:", "mtime"), ("Accessed:", "atime")):
                if line.startswith(key):
                    info[field] = file_time(line[len(key):])
            if line.startswith("Sectors:"):
                in_sectors = True
                continue
            if in_sectors:
                if not re.match(r"^[\d ]+$", line) or not line.strip():
                    in_sectors = False
                    continue
                # 0 stands for the slack of the last cluster.
                info["units"] += [int(x) for x in line.split() if int(x) != 0]
    return info


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    img = sys.argv[1]
    offset = int(sys.argv[2]) if len(sys.argv) == 3 else 0
    common = ["-o", str(offset)]
    fs = tsk("fsstat", *common, img)
    fs_type = re.search(r"File System Type: (\S+)", fs).group(1)
    ntfs = fs_type == "NTFS"
    root = int(re.search(r"^Root Directory: (\d+)\s*$", fs, re.M).group(1)) if not ntfs else 5
    sector = int(re.search(r"Sector Size: (\d+)", fs).group(1))
    if ntfs:
        spu = int(re.search(r"Cluster Size: (\d+)", fs).group(1)) // sector
    else:
        spu = 1
    print(f"# fs={fs_type} sectors_per_unit={spu} unit_base={offset} root={root}")

    entries = []
    dirs = {}
    for line in tsk("fls", "-r", "-p", *common, img).splitlines():
        m = re.match(r"^(\S)/(\S)\s+(\*\s+)?(\d+)(?:-\S+)?(?:\(realloc\))?:\t(.*)$", line)
        if not m:
            continue
        kind, deleted, inode, path = m.group(2), bool(m.group(3)), int(m.group(4)), m.group(5)
        if kind in ("v", "V") or path.split("/")[0].startswith("$"):
            continue
        name = path.rsplit("/", 1)[-1]
        if ntfs and ":" in name:
            continue  # a named data stream
        is_dir = kind == "d"
        if is_dir and (path not in dirs or not deleted):
            dirs[path] = inode
        entries.append((inode, path, name, is_dir, deleted))

    for inode, path, name, is_dir, deleted in entries:
        parent_path = path.rsplit("/", 1)[0] if "/" in path else ""
        parent = dirs.get(parent_path, root) if parent_path else root
        info = parse_istat(tsk("istat", "-z", "UTC", *common, img, str(inode)), ntfs)
        runs = [] if is_dir else coalesce(info["units"])
        fields = [inode, parent, int(is_dir), int(deleted), 0 if is_dir else info["size"],
                  info["ctime"], info["mtime"], info["atime"], info["compressed"],
                  encode_name(name.encode("utf-8", "surrogateescape")),
                  ",".join(f"{s}:{n}" for s, n in runs)]
        print("\t".join(str(f) for f in fields))


if __name__ == "__main__":
    main()
