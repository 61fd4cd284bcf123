#!/bin/sh
# Installs what a fresh Debian 12 machine lacks to build and test the module:
# the MinGW i686 and x86_64 cross compilers, 32-bit and 64-bit Wine, a headless X server, the Chinese
# locale and fonts, the packaging and signing tools, OpenSSL's libcrypto for
# the link tool and the native link tests, and Debian's Chromium and Firefox
# (firefox-esr) with xdg-utils for the tests of the page's link door in real
# browsers, and a small window manager (openbox), xdotool and a D-Bus session
# (dbus-run-session) for the tests that answer the browsers' own prompts as a
# player does, and Python's cryptography (Debian's, for /usr/bin/python3) and
# Node.js for the tests of the reference link signers (docs/examples/), and
# the service kit's aiohttp, redis-py, redis-server and nginx. Does nothing
# when everything is already there.
set -eu

packages="g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix mingw-w64-tools libwine-dev wine wine32:i386 wine64 xvfb xauth x11-utils
locales fonts-wqy-zenhei googletest imagemagick gcab osslsigncode openssl libssl-dev clang libclang-rt-14-dev clang-format-14
python3 cmake make chromium firefox-esr xdg-utils openbox xdotool dbus python3-cryptography nodejs
python3-aiohttp python3-redis redis-server nginx ccache"

missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  dpkg --print-foreign-architectures | grep -qx i386 || as_root dpkg --add-architecture i386
  # A mirror in mid-sync fails one index now and then; the install that
  # follows says whether what we need was there.
  as_root apt-get update -qq || echo "setup: apt-get update reported errors; installing from the indexes it has"
  DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi

# Wine shows Chinese text only when the locale it runs under uses code page 936.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  echo "setup: generating zh_CN.UTF-8"
  as_root sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi
exit 0
