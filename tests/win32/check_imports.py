#!/usr/bin/env python3
"""Checks what a launcher asks of the loader before any of its code runs.

    check_imports.py OBJDUMP PROGRAM.exe...

Each program's import table may name only libraries that Windows takes from
its KnownDLLs (never from the program's folder), and its load configuration
must set DependentLoadFlags to LOAD_LIBRARY_SEARCH_SYSTEM32. Its manifest
must be well-formed and declare per-monitor DPI awareness (v2, then v1, and
true/pm before Windows 10) and every Windows from Vista to 11 as supported:
Wine 8 reads none of that (every process is per-monitor aware).
"""
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from pe_image import LOAD_CONFIG, PeImage  # noqa: E402

KNOWN_DLLS = {
    "advapi32", "clbcatq", "combase", "comdlg32", "coml2", "difxapi", "gdi32", "gdiplus", "imagehlp", "imm32",
    "kernel32", "msctf", "msvcrt", "normaliz", "nsi", "ole32", "oleaut32", "psapi", "rpcrt4", "sechost", "setupapi",
    "shcore", "shell32", "shlwapi", "user32", "wldap32", "ws2_32",
}
LOAD_LIBRARY_SEARCH_SYSTEM32 = 0x800
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  # Vista
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def dependent_load_flags(data):
    image = PeImage(data)
    rva, size = image.directory(LOAD_CONFIG)
    flags_at = 0x4E if image.is64 else 0x36  # offset of DependentLoadFlags
    at = image.offset(rva) if rva and size >= flags_at + 2 else None
    return None if at is None else struct.unpack_from("<H", data, at + flags_at)[0]


def manifest_faults(program, data):
    # The manifest resource is the XML text itself, stored as it was written.
    start = data.find(b"<assembly")
    end = data.find(b"</assembly>", start)
    if start < 0 or end < 0:
        return [f"{program}: no manifest"]
    try:
        assembly = ElementTree.fromstring(data[start:end + len(b"</assembly>")])
    except ElementTree.ParseError as error:
        return [f"{program}: manifest is not well-formed XML: {error}"]
    ns = {"v3": "urn:schemas-microsoft-com:asm.v3", "c": "urn:schemas-microsoft-com:compatibility.v1",
          "s5": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
          "s16": "http://schemas.microsoft.com/SMI/2016/WindowsSettings"}
    awareness = [e.text for e in assembly.findall("v3:application/v3:windowsSettings/s16:dpiAwareness", ns)]
    aware = [e.text for e in assembly.findall("v3:application/v3:windowsSettings/s5:dpiAware", ns)]
    supported = {e.get("Id", "").lower() for e in assembly.findall("c:compatibility/c:application/c:supportedOS", ns)}
    faults = []
    if awareness != ["PerMonitorV2, PerMonitor"]:
        faults.append(f"{program}: dpiAwareness {awareness!r}, not PerMonitorV2, PerMonitor")
    if aware != ["true/pm"]:
        faults.append(f"{program}: dpiAware {aware!r}, not true/pm")
    if supported != SUPPORTED_OS:
        faults.append(f"{program}: supportedOS {sorted(supported)}, not Vista to 11")
    return faults


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
        data = open(program, "rb").read()
        flags = dependent_load_flags(data)
        if flags != LOAD_LIBRARY_SEARCH_SYSTEM32:
            faults.append(f"{program}: DependentLoadFlags {flags!r}, not LOAD_LIBRARY_SEARCH_SYSTEM32")
        faults += manifest_faults(program, data)
        print(f"{program}: imports {' '.join(sorted(names))}; DependentLoadFlags {flags!r}")
    for fault in faults:
        print(fault, file=sys.stderr)
    sys.exit(1 if faults else 0)


if __name__ == "__main__":
    main()
