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

from pe_image import LOAD_CONFIG, PeImage


def main():
    program, map_file = sys.argv[1:3]
    with open(map_file, encoding="utf-8", errors="replace") as f:
        found = re.findall(r"^\s+0x([0-9a-f]+)\s+_?_load_config_used\s*$", f.read(), re.M)
    if len(found) != 1:
        sys.exit(f"{map_file}: no single _load_config_used")
    address = int(found[0], 16)
    try:
        image = PeImage(bytearray(open(program, "rb").read()), program)
    except ValueError as error:
        sys.exit(str(error))
    rva = address - image.base
    # The structure's bytes: the section that holds its address.
    at = image.offset(rva)
    if at is None:
        sys.exit(f"{program}: _load_config_used lies in no section")
    image.set_directory(LOAD_CONFIG, rva, struct.unpack_from("<I", image.data, at)[0])
    image.update_checksum()
    open(program, "wb").write(image.data)


if __name__ == "__main__":
    main()
