#!/bin/bash
# The launch sequence end to end under Wine: the stand-in client is installed
# (WorkDir set), a page window runs the launch, the client starts and records
# what it received, and the page window ends.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/win32/bin
session=$top/build/demo-session
artifacts=$top/build/artifacts
mkdir -p "$artifacts"

"$top/tools/wine-session.sh" start "$session" >/dev/null
trap '"$top/tools/wine-session.sh" stop "$session"' EXIT
# shellcheck disable=SC1091
. "$session/wine.env"

client="$session/client"
mkdir -p "$client"
cp "$bin/Marovent.exe" "$client/"
workdir=$(winepath -w "$client")
wine reg add 'HKCU\Software\Quorsel\Marovent\OrvMain' /v WorkDir /d "$workdir" /f >/dev/null 2>&1
export MAROVENT_RECORD="$(winepath -w "$client/received.txt")"
export VANTORIMA_TRACE="$(winepath -w "$session/trace.txt")"

echo "demo: page opens with strID=guest, a password, no key, strServer=127.0.0.1:7000"
wine "$bin/LaunchDemo.exe" guest 'go-demo-2026' '' '127.0.0.1:7000'
for _ in $(seq 100); do [ -f "$client/received.txt" ] && break; sleep 0.1; done
echo "demo: the page window has ended; the client received:"
iconv -f GBK -t UTF-8 "$client/received.txt" | sed 's/^/    /'
echo "demo: the control traced:"
iconv -f GBK -t UTF-8 "$session/trace.txt" | sed 's/^/    /'
echo "demo: settings left for the client:"
wine reg query 'HKCU\Software\Quorsel\Marovent\OrvMain' 2>/dev/null | tr -d '\r' | iconv -f GBK -t UTF-8 | sed -n 's/^ \+/    /p'
