#!/usr/bin/env python3
"""Checks what a launcher asks of the loader before any of its code runs.

    check_imports.py OBJDUMP PROGRAM.exe...

Each program's import table may name only libraries that Windows takes from
its KnownDLLs (never from the program's folder), and its load configuration
must set DependentLoadFlags to LOAD_LIBRARY_SEARCH_SYSTEM32.
"""
import re
import struct
import subprocess
import sys

KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
    "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32",
}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800


def dependent_load_flags(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    rva, size = struct.unpack_from("<II", data, directories + 8 * 10)
    flags_at = 0x36 if magic == 0x10B else 0x4E  # offset of DependentLoadFlags
    if not rva or size < flags_at + 2:
        return None
    sections = optional + struct.unpack_from("<H", data, pe + 20)[0]
    for i in range(struct.unpack_from("<H", data, pe + 6)[0]):
        vsize, start, raw_size, raw = struct.unpack_from("<IIII", data, sections + 40 * i + 8)
        if start <= rva < start + min(vsize, raw_size):
            return struct.unpack_from("<H", data, raw + rva - start + flags_at)[0]
    return None


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
