#!/usr/bin/env python3
"""Builds a disk image with copies of files planted at known offsets.

plant_image.py OUT [options] FILE...

Writes OUT and OUT.manifest, one tab-separated line per copy:
offset, size, sha256, gap kind after it, source path.

  --align N        copies start at multiples of N (default 4096)
  --lead N         filler before the first copy (default 1 MiB)
  --tail N         filler after the last copy (default 1 MiB)
  --gap KIND:N,... after each copy, the bytes to the next multiple of --align
                   plus N more are KIND: zero (left sparse), random (seeded)
                   or ff; a list is used in turn (default zero:65536)
  --straddle B[:K] K copies of each file (default 8), each placed so that a
                   multiple of B falls after its j-th align unit, j spread
                   evenly from 1 to its last unit
  --end            the last copy's last align unit is the image's last
  --repeat-to SIZE plant the files again and again until the image holds SIZE
  --shuffle        plant the files in a seeded random order (each round)
  --seed N         seed of the random filler and the order (default 1)

Sizes take K, M and G suffixes (powers of 1024). Only the standard library is
used.
"""

import argparse
import hashlib
import os
import random
import sys

KINDS = ("zero", "random", "ff")


def parse_size(text):
    text = text.strip()
    mult = 1
    suffix = text[-1:].upper()
    if suffix in ("K", "M", "G", "T"):
        mult = 1024 ** ("KMGT".index(suffix) + 1)
        text = text[:-1]
    value = int(text, 0) * mult
    if value < 0:
        raise argparse.ArgumentTypeError("negative size")
    return value


def parse_gaps(text):
    gaps = []
    for piece in text.split(","):
        kind, _, count = piece.partition(":")
        if kind not in KINDS:
            raise argparse.ArgumentTypeError("gap kind must be one of %s" % ", ".join(KINDS))
        gaps.append((kind, parse_size(count or "0")))
    return gaps


def parse_straddle(text):
    boundary, _, count = text.partition(":")
    return parse_size(boundary), int(count or "8")


def round_up(value, unit):
    return (value + unit - 1) // unit * unit


class Image:
    """The output file, written front to back; zero filler stays sparse."""

    def __init__(self, path, seed):
        self.out = open(path, "wb")
        self.pos = 0
        self.rng = random.Random(seed)

    def fill(self, kind, count):
        if count <= 0:
            return
        if kind == "zero":
            self.out.seek(count, os.SEEK_CUR)
        else:
            left = count
            while left:
                n = min(left, 1 << 20)
                self.out.write(self.rng.randbytes(n) if kind == "random" else b"\xff" * n)
                left -= n
        self.pos += count

    def write(self, data):
        self.out.write(data)
        self.pos += len(data)

    def close(self):
        self.out.truncate(self.pos)
        self.out.close()


def straddle_units(units, copies):
    """The align unit after which the boundary falls, for each copy."""
    if copies <= 1:
        return [1]
    return [1 + round(k * (units - 1) / (copies - 1)) for k in range(copies)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("files", nargs="+")
    parser.add_argument("--align", type=parse_size, default=4096)
    parser.add_argument("--lead", type=parse_size, default=1 << 20)
    parser.add_argument("--tail", type=parse_size, default=1 << 20)
    parser.add_argument("--gap", type=parse_gaps, default=[("zero", 65536)])
    parser.add_argument("--straddle", type=parse_straddle)
    parser.add_argument("--end", action="store_true")
    parser.add_argument("--repeat-to", type=parse_size, default=0)
    parser.add_argument("--shuffle", action="store_true")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    if args.align < 1:
        parser.error("--align must be positive")

    sources = []
    for path in args.files:
        with open(path, "rb") as f:
            data = f.read()
        if not data:
            parser.error("%s is empty" % path)
        sources.append((path, data, hashlib.sha256(data).hexdigest()))

    order_rng = random.Random(args.seed)
    image = Image(args.out, args.seed)
    manifest = []
    gap_index = 0
    image.fill(args.gap[0][0], round_up(args.lead, args.align))

    def plan():
        """(path, data, digest, boundary unit or None) for one round."""
        batch = list(sources)
        if args.shuffle:
            order_rng.shuffle(batch)
        for path, data, digest in batch:
            if args.straddle:
                units = (len(data) + args.align - 1) // args.align
                for unit in straddle_units(units, args.straddle[1]):
                    yield path, data, digest, unit
            else:
                yield path, data, digest, None

    rounds = 0
    while True:
        planned = list(plan())
        for index, (path, data, digest, unit) in enumerate(planned):
            kind, extra = args.gap[gap_index % len(args.gap)]
            gap_index += 1
            start = round_up(image.pos, args.align)
            if unit is not None:
                boundary = args.straddle[0]
                # The first multiple of the boundary with room for unit
                # units of the copy before it.
                multiple = round_up(start + unit * args.align, boundary)
                start = multiple - unit * args.align
            image.fill(kind, start - image.pos)
            image.write(data)
            last = index == len(planned) - 1
            finishing = args.end and last and (not args.repeat_to or image.pos >= args.repeat_to)
            end_of_copy = round_up(image.pos, args.align)
            if finishing:
                image.fill(kind, end_of_copy - image.pos)
            else:
                image.fill(kind, round_up(end_of_copy + extra, args.align) - image.pos)
            manifest.append((start, len(data), digest, kind, path))
        rounds += 1
        if not args.repeat_to or image.pos >= args.repeat_to:
            break
    if not args.end:
        image.fill(args.gap[(gap_index - 1) % len(args.gap)][0], round_up(args.tail, args.align))
    image.close()

    with open(args.out + ".manifest", "w") as f:
        for offset, size, digest, kind, path in manifest:
            f.write("%d\t%d\t%s\t%s\t%s\n" % (offset, size, digest, kind, path))
    return 0


if __name__ == "__main__":
    sys.exit(main())
