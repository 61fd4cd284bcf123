#!/usr/bin/python3
"""Writes a version resource as the launcher's resource script makes one
(a fixed part, a string table with OriginalFilename and ProductName, a
translation): the version reader's fuzz target starts from it."""
import struct
import sys


def block(key, value=b"", text=False, children=b""):
    """A block: length, value length, type, key, value, children, each aligned to 4."""
    body = (key + "\0").encode("utf-16-le")
    body += b"\0" * (-(6 + len(body)) % 4) + value
    body += b"\0" * (-(6 + len(body)) % 4) + children
    return struct.pack("<HHH", 6 + len(body), len(value) // 2 if text else len(value), int(text)) + body


def string(key, value):
    entry = block(key, (value + "\0").encode("utf-16-le"), text=True)
    return entry + b"\0" * (-len(entry) % 4)


fixed = struct.pack("<13I", 0xFEEF04BD, 0x10000, 0x00010002, 0x00030004, 0x00010002, 0x00030004, 0x3F, 0, 4, 1, 0, 0, 0)
strings = block("StringFileInfo", children=block("080404b0", children=string("OriginalFilename", "VantorimaLaunch.exe")
                                                 + string("ProductName", "Vantorima")))
translation = block("VarFileInfo", children=block("Translation", struct.pack("<HH", 0x0804, 0x04B0)))
with open(sys.argv[1], "wb") as out:
    out.write(block("VS_VERSION_INFO", fixed, children=strings + translation))
