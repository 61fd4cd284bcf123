#!/bin/bash
# make demo: the product end to end under Wine, as a user meets it.
#
# A fresh Wine prefix that trusts the build's test root; the module
# registered; the update folder served on the installer's port with the
# stand-in installer (signed with the build's test certificate), slowed so the
# progress can be seen, together with the demo login page; the page opened by
# its address on that server in the page host twice:
#   1. no client installed: the update dialog downloads the installer, checks
#      its signature and starts it; it installs the stand-in client and
#      records WorkDir; the page closes;
#   2. the client is installed: it starts with the user's name, the token of
#      the password and the join key; the page closes.
# Then the page's other door, in a real browser (testbed/browser_road.py): the
# client and its registration removed, the same page in Debian's Chromium,
# whose play button opens a link signed by the server (POST /link), the
# player's road from nothing:
#   0. a press: the page says what to do while it waits for the launcher's
#      report; nothing is registered for the link's scheme, so none comes, and
#      after 10 s the page offers the launcher;
#   1. the launcher downloaded from the offer and run: its box says it is
#      ready; back on the page, the page asks for a new link by itself and the
#      launcher's update dialog downloads and starts the installer, which
#      installs the client; the launcher starts the client;
#   2. one press starts the client, and the page says so (the launcher's
#      report, through the server).
# Then (not pictured) the launcher alone makes a client without a handler
# start.
# Screenshots of each step go to build/artifacts/.
#
#   demo.sh [--check]   --check: also fail unless the client got what the page gave
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
bin=$top/build/win32/bin
session=$top/build/demo-session
artifacts=$top/build/artifacts
page=$top/testbed/demo/login.html
check=0
[ "${1:-}" = --check ] && check=1
signing=$top/build/win32/test-signing
# The installer's port: http://127.0.0.1:<port>, or https://localhost:<port>
# with the test root's localhost certificate. The plain port takes the modes.
origin=$(sed -n 's/^#define VANTORIMA_UPDATE_ORIGIN "\(.*\)"$/\1/p' "$top/build/win32/generated/BuildConfig.h")
case $origin in
  http://127.0.0.1:*) server=(--port "${origin##*:}") ;;
  https://localhost:*) server=(--port 0 --tls-port "${origin##*:}" --tls "$signing/tls.pem" "$signing/tls.key") ;;
  *)
    echo "demo: the update server is not on loopback in this build ($origin); nothing to serve" >&2
    exit 1
    ;;
esac

server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
  "$top/tools/wine-session.sh" stop "$session"
}
"$top/tools/wine-session.sh" start "$session" "$signing/root.pem" >/dev/null
trap cleanup EXIT
# shellcheck disable=SC1091
. "$session/wine.env"
mkdir -p "$artifacts"

say() { printf 'demo: %s\n' "$*"; }
shot() {  # name, what it shows
  import -window root "$artifacts/$1.png"
  say "screenshot $artifacts/$1.png ($2)"
}
gbk() { iconv -f GBK -t UTF-8 "$@" 2>/dev/null || cat "$@"; }
workdir() {
  wine reg query 'HKCU\Software\Quorsel\Marovent\OrvMain' /v WorkDir 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *WorkDir *REG_SZ *//p'
}
wait_for() {  # seconds, command...
  local n=$(($1 * 10))
  shift
  while [ $n -gt 0 ]; do
    "$@" && return 0
    sleep 0.1
    n=$((n - 1))
  done
  return 1
}

wine regsvr32 /s "$(winepath -w "$bin/Vantorima.ocx")"
say "registered $bin/Vantorima.ocx"

rm -f "$session/port" "$session/trace.txt" "$session/received.txt"
mkdir -p "$session/update/service"
cp "$bin/VokWeiqi.exe" "$session/update/service/VokWeiqi.exe"
cp "$page" "$session/update/login.html"
osslsigncode verify -CAfile "$signing/root.pem" -in "$session/update/service/VokWeiqi.exe" >"$session/signature.txt" 2>&1 ||
  { cat "$session/signature.txt" >&2; echo "demo: the stand-in installer's signature does not verify" >&2; exit 1; }
say "the installer is signed by $(sed -n 's/^\s*Subject: //p' "$session/signature.txt" | head -1)"
setsid /usr/bin/python3 "$top/testbed/update_server.py" --root "$session/update" "${server[@]}" --lifetime 600 \
  --port-file "$session/port" </dev/null >"$session/server.log" 2>&1 &
server_pid=$!
wait_for 10 test -s "$session/port"
port=$(cat "$session/port")
# A block of 16 KiB every 40 ms: a few seconds for the stand-in installer.
python3 -c "import urllib.request, sys; urllib.request.urlopen(sys.argv[1]).read()" \
  "http://127.0.0.1:$port/~set/~slow=40,16384/"
say "serving $session/update at $origin (slowed)"

export VANTORIMA_TRACE
VANTORIMA_TRACE=$(winepath -w "$session/trace.txt")
export MAROVENT_RECORD
MAROVENT_RECORD=$(winepath -w "$session/received.txt")
# The page comes from the service's own site, which the control's site lock allows.
url=$origin/login.html

say "run 1: the page opens and no client is installed"
wine "$bin/PageHost.exe" "$url" 120 >"$session/page1.log" 2>&1 &
page_pid=$!
wait_for 30 grep -qs "link :" "$session/trace.txt" || true
sleep 2.5
shot demo-1-update-dialog "the update dialog mid-download"
wait "$page_pid" && ended=yes || ended=no
sed 's/^/    /' "$session/page1.log"
wait_for 30 test -n "$(workdir)" || true
installed=$(workdir)
shot demo-2-installed "the page has closed; the installer has run"
say "run 1: page window ended by the control: $ended; client installed in: ${installed:-nothing}"
checked=$(gbk "$session/trace.txt" 2>/dev/null | grep -a '^CheckInstallerFile : ' | tail -1 || true)
say "run 1: the installer's check: ${checked:-none}"

say "run 2: the page opens again, the client is installed"
python3 -c "import urllib.request, sys; urllib.request.urlopen(sys.argv[1]).read()" \
  "http://127.0.0.1:$port/~set/"
rm -f "$session/received.txt"
export MAROVENT_SHOW_MS=4000  # the stand-in client shows what it received
wine "$bin/PageHost.exe" "$url" 60 >"$session/page2.log" 2>&1 && ended2=yes || ended2=no
sed 's/^/    /' "$session/page2.log"
wait_for 20 test -f "$session/received.txt" || true
sleep 1
shot demo-3-client-started "the page has closed; the client runs"
say "run 2: page window ended by the control: $ended2; the client received:"
if [ -f "$session/received.txt" ]; then
  gbk "$session/received.txt" | sed 's/^/    /'
else
  echo "    nothing"
fi

# The other door: the browser road serves the page itself, on the same port.
kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true
server_pid=
case $origin in
  http://*) road_ports=(--port "${origin##*:}") ;;
  *) road_ports=(--port 0 --tls-port "${origin##*:}") ;;
esac
scheme=$(sed -n 's/^#define VANTORIMA_URL_SCHEME "\(.*\)"$/\1/p' "$top/build/win32/generated/BuildConfig.h")
scheme=${scheme:-vantorima}
scheme=${scheme,,}  # as browsers write it
browser=yes
# The server signs with the build's test key: a handler that trusts only other
# keys refuses its links, so such a build shows the page host alone.
if [ -n "$(sed -n 's/^VANTORIMA_LINK_KEYS:[A-Z]*=//p' "$top/build/win32/CMakeCache.txt")" ]; then
  say "the handler of this build trusts other link keys than the test key: no Chromium door to show"
else
  say "the other door: the same page in Chromium, with a signed $scheme: link"
  python3 "$top/testbed/browser_road.py" --browser chromium "${road_ports[@]}" --scheme "$scheme" --bin "$bin" \
    --test-signing "$signing" --link-tool "$top/build/host/bin/vantorima-link" --slow 40,16384 --show-ms 4000 \
    --shots "$artifacts" --failure-shots "$artifacts" | sed 's/^/    /'
  [ "${PIPESTATUS[0]}" = 0 ] || browser=no
fi

if [ $check = 1 ]; then
  record=$(gbk "$session/received.txt" 2>/dev/null || true)
  fail=0
  expect() { grep -qxF "$1" <<<"$record" || { echo "demo: expected '$1' in the client's record" >&2; fail=1; }; }
  [ "$ended" = yes ] && [ "$ended2" = yes ] || { echo "demo: a page window did not end" >&2; fail=1; }
  [ -n "$installed" ] || { echo "demo: the installer did not record WorkDir" >&2; fail=1; }
  grep -q '^CheckInstallerFile : suc ' <<<"$checked" || { echo "demo: the installer was not verified" >&2; fail=1; }
  grep -qF "at $url:" "$session/page1.log" || { echo "demo: the page was not opened at $url" >&2; fail=1; }
  ! grep -q "page refused" "$session/trace.txt" || { echo "demo: the control refused the page" >&2; fail=1; }
  expect "name=guest"
  expect "password=go-demo-2026"
  expect "joinkey=1000"
  grep -qF "cmdline=\"$installed\\Marovent.exe\"" <<<"$record" ||
    { echo "demo: the client was not started from $installed" >&2; fail=1; }
  [ $browser = yes ] || { echo "demo: the link door in Chromium failed" >&2; fail=1; }
  [ $fail = 0 ] && say "check passed"
  exit $fail
fi
