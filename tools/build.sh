#!/bin/bash
# The three builds: build/host (native, sanitizers), build/win32 (MinGW i686)
# and build/win64 (MinGW x86_64), the two Windows builds from the same sources.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$top" -B "$top/build/host" -G "Unix Makefiles" >/dev/null
cmake --build "$top/build/host" -j "$jobs"
# The Windows builds share one set of test certificates (tools/test-certs.sh):
# the tests of either run in sessions that trust its root.
mkdir -p "$top/build/win32/test-signing" "$top/build/win64"
[ -L "$top/build/win64/test-signing" ] || { rm -rf "$top/build/win64/test-signing" &&
  ln -s ../win32/test-signing "$top/build/win64/test-signing"; }
for arch in win32:i686 win64:x86_64; do
  tree=${arch%%:*}
  cmake -S "$top" -B "$top/build/$tree" -G "Unix Makefiles" \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-${arch#*:}.cmake" >/dev/null
  cmake --build "$top/build/$tree" -j "$jobs"
done
