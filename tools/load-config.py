#!/usr/bin/env python3
"""Points a program's load configuration directory at its _load_config_used.

    load-config.py PROGRAM.exe LINKER.map

The GNU linker of Debian 12 (binutils 2.40) links the structure but leaves
the directory entry empty; Windows reads only the entry. Its address comes
from the link's map, its size from the structure's own first field; the
image's checksum is made again.
"""
import re
import struct
import sys

LOAD_CONFIG = 10


def main():
    program, map_file = sys.argv[1:3]
    with open(map_file, encoding="utf-8", errors="replace") as f:
        found = re.findall(r"^\s+0x([0-9a-f]+)\s+_?_load_config_used\s*$", f.read(), re.M)
    if len(found) != 1:
        sys.exit(f"{map_file}: no single _load_config_used")
    address = int(found[0], 16)
    data = bytearray(open(program, "rb").read())
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{program}: not a PE image")
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic == 0x10B:
        base, directories = struct.unpack_from("<I", data, optional + 28)[0], optional + 96
    elif magic == 0x20B:
        base, directories = struct.unpack_from("<Q", data, optional + 24)[0], optional + 112
    else:
        sys.exit(f"{program}: unknown optional header {magic:#x}")
    rva = address - base
    # The structure's bytes: the section that holds its address.
    sections = optional + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        header = sections + 40 * i
        size, start, raw_size, raw = struct.unpack_from("<IIII", data, header + 8)
        if start <= rva < start + min(size, raw_size):
            length = struct.unpack_from("<I", data, raw + rva - start)[0]
            break
    else:
        sys.exit(f"{program}: _load_config_used lies in no section")
    struct.pack_into("<II", data, directories + 8 * LOAD_CONFIG, rva, length)
    # The image's checksum, as the linker wrote it, again over the changed bytes.
    checksum_at = optional + 64
    struct.pack_into("<I", data, checksum_at, 0)
    padded = data + b"\0" * (len(data) % 2)
    total = 0
    for (word,) in struct.iter_unpack("<H", padded):
        total += word
        total = (total & 0xFFFF) + (total >> 16)
    struct.pack_into("<I", data, checksum_at, ((total + (total >> 16)) & 0xFFFF) + len(data))
    open(program, "wb").write(data)


if __name__ == "__main__":
    main()
