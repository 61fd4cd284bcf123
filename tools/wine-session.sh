#!/bin/bash
# A headless Wine session for tests and the demo.
#
#   wine-session.sh start [--win64] <dir> [ROOT.pem...]
#                                 fresh 32-bit prefix (--win64: 64-bit, which
#                                 runs both kinds of program) in <dir>/wineprefix, Xvfb on
#                                 a free display, a persistent wineserver and a
#                                 virtual desktop; writes <dir>/wine.env. Each
#                                 ROOT.pem becomes a trusted root of the prefix
#                                 (the build's test root: tools/test-certs.sh)
#   wine-session.sh stop <dir>    stops everything start started
#
# Source <dir>/wine.env to run programs in the session.
set -eu

cmd=${1:?start or stop}
arch=win32
if [ "${2:-}" = --win64 ]; then
  arch=win64
  shift
fi
dir=$(realpath -m "${2:?session directory}")
shift 2
roots=("$@")
env_file=$dir/wine.env
here=$(cd "$(dirname "$0")" && pwd)

stop_session() {
  [ -f "$env_file" ] || return 0
  # shellcheck disable=SC1090
  . "$env_file"
  wineserver -k >/dev/null 2>&1 || true
  if [ -f "$dir/xvfb.pid" ]; then
    kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
    rm -f "$dir/xvfb.pid"
  fi
  rm -f "$env_file"
}

if [ "$cmd" = stop ]; then
  stop_session
  exit 0
fi
[ "$cmd" = start ] || { echo "usage: $0 start [--win64] <dir> [ROOT.pem...] | stop <dir>" >&2; exit 2; }
for root in ${roots[@]+"${roots[@]}"}; do
  openssl x509 -in "$root" -noout 2>/dev/null || { echo "wine-session: $root is no PEM certificate" >&2; exit 2; }
done

stop_session
mkdir -p "$dir"
rm -rf "$dir/wineprefix"

# A display nobody uses.
display=90
while [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ]; do
  display=$((display + 1))
done
setsid Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$dir/xvfb.log" 2>&1 &
echo $! >"$dir/xvfb.pid"
for _ in $(seq 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done

cat >"$env_file" <<ENV
export WINEPREFIX='$dir/wineprefix'
export WINEARCH=$arch
export DISPLAY=:$display
export LC_ALL=
export LANG=C.UTF-8
export LC_CTYPE=zh_CN.UTF-8
export WINEDLLOVERRIDES='mscoree,mshtml='
export WINEDEBUG=-all,err+module
ENV
# shellcheck disable=SC1090
. "$env_file"

# A persistent server: without it every process and every top-level window pays
# for the server's start and stop.
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1
wineboot -i </dev/null >"$dir/wineboot.log" 2>&1

# A certificate in the current user's Root store, as
# CertAddEncodedCertificateToSystemStoreA("Root", ...) writes it: the
# serialized SHA-1 hash property (3) and the certificate (32), under the
# hash. `wine reg delete` of the key takes it out again.
root_entry() {
  local sha1 der length blob
  sha1=$(openssl x509 -in "$1" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
  der=$(openssl x509 -in "$1" -outform DER | od -An -v -tx1 | tr -d ' \n')
  length=$((${#der} / 2))
  blob=$(printf '030000000100000014000000%s2000000001000000%02x%02x%02x%02x%s' "$sha1" \
    $((length & 255)) $((length >> 8 & 255)) $((length >> 16 & 255)) $((length >> 24 & 255)) "$der")
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\%s]\r\n' "$sha1"
  printf '"Blob"=hex:%s\r\n' "$(sed 's/../&,/g; s/,$//' <<<"$blob")"
}

# Chinese dialog fonts lose strokes unless they map to a font that has them.
reg=$dir/session.reg
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  for font in "MS Shell Dlg" "MS Shell Dlg 2" "MS Sans Serif" SimSun NSimSun 宋体 新宋体; do
    printf '"%s"="WenQuanYi Zen Hei Sharp"\r\n' "$font"
  done
  # Every program joins the one virtual desktop: top-level windows then end
  # at once instead of after a two-second wait for the X window manager.
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer]\r\n"Desktop"="Default"\r\n'
  printf '\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\r\n"Default"="1280x1024"\r\n'
  for root in ${roots[@]+"${roots[@]}"}; do
    root_entry "$root"
  done
} | iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$reg"
wine regedit /S "$(winepath -w "$reg")" </dev/null >/dev/null 2>&1
# The desktop that wineboot made predates these settings: start afresh.
wineserver -k >/dev/null 2>&1 || true
wineserver -w >/dev/null 2>&1 || true
wineserver -p </dev/null >/dev/null 2>&1

# One virtual desktop for every program of the session.
setsid wine explorer "/desktop=Default,1280x1024" </dev/null >"$dir/explorer.log" 2>&1 &
for _ in $(seq 50); do
  xwininfo -root -tree 2>/dev/null | grep -q 'Default - Wine desktop' && break
  sleep 0.2
done
echo "wine session: display :$display, prefix $WINEPREFIX"
