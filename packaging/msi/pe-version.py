#!/usr/bin/env python3
"""Prints the file version of a Windows binary (a.b.c.d) from its version resource's fixed part
(VS_FIXEDFILEINFO); exits 1 when the file carries none."""
import struct
import sys

SIGNATURE = struct.pack("<I", 0xFEEF04BD)

def file_version(path):
    with open(path, "rb") as binary:
        data = binary.read()
    at = data.find(SIGNATURE)
    while at >= 0:
        # dwSignature, dwStrucVersion, dwFileVersionMS, dwFileVersionLS
        if at + 16 <= len(data):
            _, struc_version, ms, ls = struct.unpack_from("<IIII", data, at)
            if struc_version == 0x00010000:
                return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        at = data.find(SIGNATURE, at + 4)
    return None

if __name__ == "__main__":
    version = file_version(sys.argv[1])
    if version is None:
        sys.stderr.write("%s: no version resource\n" % sys.argv[1])
        sys.exit(1)
    print(version)
