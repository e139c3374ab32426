#!/usr/bin/env python3
"""Writes a disk image as a sparse fuzz input (see fuzz/targets/FuzzDevice.h):
u32 total sectors, then u32 sector number + 512 bytes for each kept sector.

usage: sparse_seed.py IMAGE OUT [--start SECTOR] [--count N] [--budget BYTES]
                      [--prefer SIGNATURE ...]

Only sectors that are not all zeros are kept, while the budget allows:
first the sector 0 and those that begin with a preferred signature (the
records a volume's metadata is made of, "FILE" and "INDX" on NTFS), then
other sectors that do not look random, then file contents.
"""
import argparse
import struct

SECTOR = 512


def looks_random(block):
    return len(set(block)) > 160


def main():
    p = argparse.ArgumentParser()
    p.add_argument("image")
    p.add_argument("out")
    p.add_argument("--start", type=int, default=0, help="first sector of the volume in the image")
    p.add_argument("--count", type=int, default=0, help="sectors of the volume (0: to the end)")
    p.add_argument("--budget", type=int, default=256 * 1024)
    p.add_argument("--prefer", nargs="*", default=[])
    a = p.parse_args()
    with open(a.image, "rb") as f:
        f.seek(a.start * SECTOR)
        data = f.read(a.count * SECTOR if a.count else -1)
    total = len(data) // SECTOR
    prefer = [sig.encode() for sig in a.prefer]
    first, meta, contents = [], [], []
    for s in range(total):
        block = data[s * SECTOR:(s + 1) * SECTOR]
        if block.count(0) == SECTOR:
            continue
        if s == 0 or any(block.startswith(sig) for sig in prefer):
            first.append(s)
        else:
            (contents if looks_random(block) else meta).append(s)
    kept, size = [], 4
    for s in first + meta + contents:
        if size + 4 + SECTOR > a.budget:
            break
        kept.append(s)
        size += 4 + SECTOR
    with open(a.out, "wb") as f:
        f.write(struct.pack("<I", total))
        for s in sorted(kept):
            f.write(struct.pack("<I", s) + data[s * SECTOR:(s + 1) * SECTOR])


if __name__ == "__main__":
    main()
