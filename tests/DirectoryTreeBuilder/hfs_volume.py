#!/usr/bin/env python3
# Prints "first-sector sector-count" of the HFS+ volume inside an image made
# by xorriso -hfsplus (its header is 1,024 bytes into the volume).
import struct
import sys

data = open(sys.argv[1], 'rb').read()
for s in range(2, len(data) // 512):
    if data[s * 512:s * 512 + 2] == b'H+':
        bs, blocks = struct.unpack('>II', data[s * 512 + 40:s * 512 + 48])
        print(s - 2, bs * blocks // 512)
        break
