#!/bin/bash
# Both builds: build/host (native, sanitizers) and build/win32 (MinGW i686).
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$top" -B "$top/build/host" -G "Unix Makefiles" >/dev/null
cmake --build "$top/build/host" -j "$jobs"
cmake -S "$top" -B "$top/build/win32" -G "Unix Makefiles" \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$top/build/win32" -j "$jobs"
