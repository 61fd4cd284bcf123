#!/usr/bin/env python3
"""Checks what a launcher asks of the loader before any of its code runs.

    check_imports.py OBJDUMP PROGRAM.exe...

Each program's import table may name only libraries that Windows takes from
its KnownDLLs (never from the program's folder), and its load configuration
must set DependentLoadFlags to LOAD_LIBRARY_SEARCH_SYSTEM32.
"""
import os
import re
import struct
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pe_image import LOAD_CONFIG, PeImage  # noqa: E402

KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
    "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32",
}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800


def dependent_load_flags(data):
    image = PeImage(data)
    rva, size = image.directory(LOAD_CONFIG)
    flags_at = 0x4E if image.is64 else 0x36  # offset of DependentLoadFlags
    at = image.offset(rva) if rva and size >= flags_at + 2 else None
    return None if at is None else struct.unpack_from("<H", data, at + flags_at)[0]


def main():
    objdump, programs = sys.argv[1], sys.argv[2:]
    faults = []
    for program in programs:
        text = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
        names = [n.lower().removesuffix(".dll") for n in re.findall(r"DLL Name: (\S+)", text)]
        if not names:
            faults.append(f"{program}: no import table read")
        for name in names:
            if name not in KNOWN_DLLS:
                faults.append(f"{program}: imports {name}.dll, which Windows may take from the program's folder")
        flags = dependent_load_flags(open(program, "rb").read())
        if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
            faults.append(f"{program}: DependentLoadFlags {flags!r}, not LOAD_LIBRARY_SEARCH_SYSTEM32")
        print(f"{program}: imports {' '.join(sorted(names))}; DependentLoadFlags {flags!r}")
    for fault in faults:
        print(fault, file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
