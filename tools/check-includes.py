#!/usr/bin/env python3
"""Fails on an include that the layout table of docs/developers.md does not
allow: a room includes its own headers and those of the rooms it names under
"may include". Generated headers are named by their bare file name. Within a
room, two units (a header with its sources) may not each include the other's
header: one of them depends on the other, not both."""
import os
import re
import subprocess
import sys

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATED = {"BuildConfig.h": "support/", "VantorimaLib.h": "res/", "LauncherVersion.h": "res/", "LinkKeys.h": "link/",
             "BrowserStubs.h": "testbed/"}


def layout():
    rooms = {}
    for line in open(os.path.join(TOP, "docs", "developers.md"), encoding="utf-8"):
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 3 and re.fullmatch(r"`[\w/]+/`", cells[0]):
            uses = re.findall(r"`([\w/]+/)`", cells[2])
            rooms[cells[0].strip("`")] = "*" if cells[2] == "anything" else set(uses)
    return rooms


def room_of(path, rooms):
    found = [r for r in rooms if path.startswith(r)]
    return max(found, key=len) if found else None


def unit_of(path, headers):
    """The unit a file belongs to: its header's path without the extension;
    a source without a header of its own name (LinkSignatureCng.cpp) belongs
    to the longest header stem of its folder that begins its name."""
    stem = os.path.splitext(path)[0]
    found = [h for h in headers if os.path.dirname(h) == os.path.dirname(stem) and stem.startswith(h)]
    return max(found, key=len) if found else stem


def circles(includes, headers):
    """Pairs of units of one room that include each other's headers."""
    uses = {}
    for f, names in includes.items():
        unit = unit_of(f, headers)
        for name in names:
            other = os.path.splitext(name)[0]
            if other in headers and other != unit:
                uses.setdefault(unit, set()).add(other)
    return sorted((a, b) for a in uses for b in uses[a] if a < b and a in uses.get(b, ()))


def main():
    rooms = layout()
    files = subprocess.run(["git", "ls-files", "*.cpp", "*.h", "*.c", "*.rc", "*.in"], cwd=TOP, check=True,
                           capture_output=True, text=True).stdout.split()
    bad = []
    headers = {os.path.splitext(f)[0] for f in files if f.endswith(".h")}
    includes = {}
    for f in files:
        room = room_of(f, rooms)
        if room is None:
            bad.append("%s: in no room of the layout" % f)
            continue
        if rooms[room] == "*":
            continue
        for n, line in enumerate(open(os.path.join(TOP, f), encoding="utf-8", errors="replace"), 1):
            m = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if not m:
                continue
            name = m.group(1)
            if "/" in name:
                includes.setdefault(f, []).append(name)
            if "/" not in name:
                target = GENERATED.get(name) or (room if os.path.exists(os.path.join(TOP, os.path.dirname(f), name))
                                                 else None)
            else:
                target = room_of(name, rooms)
            if target is None:
                bad.append('%s:%d: "%s" belongs to no room' % (f, n, name))
            elif target != room and target not in rooms[room]:
                bad.append('%s:%d: %s may not include "%s" (%s)' % (f, n, room, name, target))
    for a, b in circles(includes, headers):
        bad.append("%s and %s include each other's header" % (a, b))
    for line in bad:
        print("includes: " + line)
    if bad:
        print("includes: FAILED, %d of the layout's rules broken (docs/developers.md)" % len(bad))
        return 1
    print("includes: %d files in %d rooms as the layout allows" % (len(files), len(rooms)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
