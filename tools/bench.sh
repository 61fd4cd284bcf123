#!/bin/bash
# make bench: every benchmark under bench/, each printing its figures.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
shopt -s nullglob
benches=("$top"/build/win32/bin/bench_*.exe)
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmarks yet"
  exit 0
fi
session=$top/build/bench-session
"$top/tools/wine-session.sh" start "$session" >/dev/null
trap '"$top/tools/wine-session.sh" stop "$session"' EXIT
# shellcheck disable=SC1091
. "$session/wine.env"
# Each benchmark runs inside its own local update server (VANTORIMA_UPDATE_PORT)
# on the installer's port, which stops when the benchmark ends.
port=$(sed -n 's/^#define VANTORIMA_UPDATE_HOST "127\.0\.0\.1:\([0-9]*\)"$/\1/p' "$top/build/win32/generated/BuildConfig.h")
for b in "${benches[@]}"; do
  echo "== $(basename "$b" .exe)"
  (cd "$(dirname "$b")" && python3 "$top/tools/update_server.py" --port "${port:-0}" --exec wine "$b")
done
