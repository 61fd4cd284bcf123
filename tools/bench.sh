#!/bin/bash
# make bench: every benchmark under bench/, each printing its figures.
# bench_webgrab_4095 and bench_dialog_4095 are bench_webgrab and bench_dialog
# built with the fixed 4095-byte blocks, for reference; they run after them.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
# The link door's service at scale, on loopback: 10,000 waiting pages against
# two processes of the package and a redis-server of its own, all stopped
# when it ends (about two minutes).
echo "== bench_link_wait"
/usr/bin/python3 "$top/bench/link_wait_bench.py"
shopt -s nullglob
benches=("$top"/build/win32/bin/bench_*.exe)
if [ ${#benches[@]} -eq 0 ]; then
  echo "bench: no benchmarks yet"
  exit 0
fi
session=$top/build/bench-session
"$top/tools/wine-session.sh" start "$session" "$top/build/win32/test-signing/root.pem" >/dev/null
trap '"$top/tools/wine-session.sh" stop "$session"' EXIT
# shellcheck disable=SC1091
. "$session/wine.env"
signing=$top/build/win32/test-signing
# Each benchmark runs inside its own local update server (VANTORIMA_UPDATE_PORT)
# on the installer's port (http://127.0.0.1:<port>, or https://localhost:<port>),
# which stops when the benchmark ends.
origin=$(sed -n 's/^#define VANTORIMA_UPDATE_ORIGIN "\(.*\)"$/\1/p' "$top/build/win32/generated/BuildConfig.h")
case $origin in
  http://127.0.0.1:*) server=(--port "${origin##*:}") ;;
  https://localhost:*) server=(--port 0 --tls-port "${origin##*:}" --tls "$signing/tls.pem" "$signing/tls.key") ;;
  *) server=(--port 0) ;;
esac
# The update dialog's bench downloads a 64 MiB installer: the stand-in with
# padding after its image, signed with the build's test certificate, which
# the session trusts.
padded=$session/VokWeiqi-padded.exe
rm -f "$padded"  # osslsigncode writes no file that exists
{
  cat "$top/build/win32/bin/VokWeiqi-unsigned.exe"
  head -c $((64 << 20)) /dev/zero | tr '\0' p
} >"$padded.unsigned"
osslsigncode sign -certs "$signing/chain.pem" -key "$signing/key.pem" -h sha256 -n VokWeiqi \
  -in "$padded.unsigned" -out "$padded" >/dev/null
rm -f "$padded.unsigned"
export VANTORIMA_BENCH_INSTALLER=$padded
# The link handler's bench starts it with links signed for the run.
scheme=$(sed -n 's/^#define VANTORIMA_URL_SCHEME "\(.*\)"$/\1/p' "$top/build/win32/generated/BuildConfig.h")
for b in "${benches[@]}"; do
  echo "== $(basename "$b" .exe)"
  links=()
  if [ "$(basename "$b")" = bench_handler.exe ]; then
    links=(python3 "$top/tests/win32/make_links.py" --key "$signing/link-key.pem" --scheme "$scheme" --bench 25 --)
  fi
  (cd "$(dirname "$b")" && ${links[@]+"${links[@]}"} /usr/bin/python3 "$top/testbed/update_server.py" "${server[@]}" --test-reports --exec wine "$b")
done

# The 64-bit module: its size and imports, and its launch, from the 64-bit
# build's bench_control in a 64-bit session.
bench64=$top/build/win64/bin/bench_control.exe
if [ -f "$bench64" ]; then
  "$top/tools/wine-session.sh" stop "$session"
  "$top/tools/wine-session.sh" start --win64 "$session" "$signing/root.pem" >/dev/null
  # shellcheck disable=SC1091
  . "$session/wine.env"
  echo "== bench_control (64-bit)"
  (cd "$(dirname "$bench64")" && /usr/bin/python3 "$top/testbed/update_server.py" "${server[@]}" --exec /usr/lib/wine/wine64 "$bench64")
fi
