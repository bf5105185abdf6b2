#!/usr/bin/env python3
"""hex2bin.py FILE.hex OUT.bin [SIZE]: the flat image (0xFF where no record
writes, SIZE bytes, default 8192) that the data records of an Intel HEX file
describe, decoded independently of the program so the scripts can check what
the program wrote."""
import sys

image = bytearray(b"\xff" * int(sys.argv[3] if len(sys.argv) > 3 else 8192))
for line in open(sys.argv[1]):
    line = line.strip()
    n, addr, kind = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
    if kind == 0:
        image[addr:addr + n] = bytes.fromhex(line[9:9 + 2 * n])
open(sys.argv[2], "wb").write(image)
