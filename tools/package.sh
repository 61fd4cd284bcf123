#!/bin/bash
# make package: what a web server hosts for pages that embed the control.
#
#   tools/package.sh [--check] [--module FILE] [--module64 FILE] [--handler FILE] [--handler64 FILE]
#                    [--out DIR] [--test-signing DIR]
#
# Puts into DIR (default build/package):
#   Vantorima.ocx    the 32-bit module (default build/win32/Vantorima.ocx), signed
#   Vantorima64.ocx  the 64-bit module (default build/win64/Vantorima.ocx), signed
#   Vantorima.inf    package/Vantorima.inf, the Internet Component Download INF,
#                    which names each module for its processor
#   Vantorima.cab    all three, then signed itself, for
#                    <object codebase="Vantorima.cab#version=1,0,0,2">
#   example.html     package/example.html, a login page's model: both doors
#                    through the page script
#   vantorima.js     package/vantorima.js, the page script, served beside the page
#   handler/x86/VantorimaLaunch.exe, handler/x64/VantorimaLaunch.exe
#                    the link handler for each processor (default
#                    build/win32/ and build/win64/VantorimaLaunch.exe), signed,
#                    for the client's installer to put beside the client
#   service/VantorimaLaunch.exe  the signed 32-bit handler again: the launcher
#                    that the login page offers (it installs itself per user)
#   handler/README.txt  package/handler-README.txt, for the service's operators
# and checks the result: the CAB holds exactly the two modules and the INF,
# each module in it is the signed one and built for the processor the INF
# names it for, every signature verifies, and the class id and version agree
# across the INF, the page, the type library and both modules' version
# resources; each handler is the build's, signed, for its processor, of the
# modules' version; and no file of the package holds a private key (the link
# signing key stays with the service).
#
# Signing. Without settings, the build's test code-signing certificate signs,
# the one that signs the stand-in installer: tools/test-certs.sh makes it in
# build/win32/test-signing/ (or the --test-signing DIR; kept while it is
# valid; never commit it), issued by a test root that browsers trust only
# where it has been imported. A real deployment sets
#   VANTORIMA_SIGN_CERT       its code-signing certificate, with the chain
#                             (PEM, DER or SPC)
#   VANTORIMA_SIGN_KEY        its private key (PEM, DER or PVK)
#   VANTORIMA_SIGN_PASS       the key's password, when it has one
#   VANTORIMA_SIGN_CAFILE     the roots to verify against (default: the
#                             system's, /etc/ssl/certs/ca-certificates.crt)
#   VANTORIMA_SIGN_TIMESTAMP  a timestamp server URL, so that the signatures
#                             stay valid after the certificate expires
#   VANTORIMA_SIGN_URL        the web address shown in the signature
# A .pfx splits with `openssl pkcs12 -in x.pfx -nokeys` and `-nocerts`.
# Signed with such a certificate, the package refuses handlers that trust the
# build's test link key, and programs of a build not made as a signed one:
# build with -DVANTORIMA_LINK_KEYS=<service key> -DVANTORIMA_SIGNED_BUILD=ON.
#
# --check packages with the test certificate whatever the settings say (this
# is what `make test` runs) and needs no Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

check=0
module=$top/build/win32/Vantorima.ocx
module64=$top/build/win64/Vantorima.ocx
handler=$top/build/win32/VantorimaLaunch.exe
handler64=$top/build/win64/VantorimaLaunch.exe
out=$top/build/package
testdir=$top/build/win32/test-signing
while [ $# -gt 0 ]; do
  case $1 in
    --check) check=1 ;;
    --module) module=$2; shift ;;
    --module64) module64=$2; shift ;;
    --handler) handler=$2; shift ;;
    --handler64) handler64=$2; shift ;;
    --out) out=$2; shift ;;
    --test-signing) testdir=$2; shift ;;
    *) echo "usage: $0 [--check] [--module FILE] [--module64 FILE] [--handler FILE] [--handler64 FILE]" \
         "[--out DIR] [--test-signing DIR]" >&2; exit 2 ;;
  esac
  shift
done

fail() { echo "package: $*" >&2; exit 1; }
for m in "$module" "$module64" "$handler" "$handler64"; do
  [ -f "$m" ] || fail "no program at $m (build it first: make build)"
done
for tool in gcab osslsigncode openssl python3; do
  command -v $tool >/dev/null || fail "$tool is missing (tools/setup.sh installs it)"
done

if [ $check = 1 ]; then
  unset VANTORIMA_SIGN_CERT VANTORIMA_SIGN_KEY VANTORIMA_SIGN_PASS VANTORIMA_SIGN_CAFILE VANTORIMA_SIGN_TIMESTAMP
fi

mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The certificate and key that sign, and the roots that verify them.
if [ -n "${VANTORIMA_SIGN_CERT:-}" ] || [ -n "${VANTORIMA_SIGN_KEY:-}" ]; then
  cert=${VANTORIMA_SIGN_CERT:?VANTORIMA_SIGN_KEY is set but VANTORIMA_SIGN_CERT is not}
  key=${VANTORIMA_SIGN_KEY:?VANTORIMA_SIGN_CERT is set but VANTORIMA_SIGN_KEY is not}
  cafile=${VANTORIMA_SIGN_CAFILE:-/etc/ssl/certs/ca-certificates.crt}
else
  "$top/tools/test-certs.sh" "$testdir" || fail "openssl could not make the test certificates"
  cert=$testdir/chain.pem
  key=$testdir/key.pem
  cafile=$testdir/root.pem
fi

# A release never trusts the build's test link key: its private half lies in
# every build tree. Signed with the service's own certificate, each handler
# must come from a tree built with VANTORIMA_LINK_KEYS and hold no test key's
# public point (X || Y); signed with the test certificate, the package is for
# tests only and may.
test_only=0
[ "$cert" = "$testdir/chain.pem" ] && test_only=1
# The CMakeCache.txt of the build tree that made $1 (beside it, or above its bin/), or nothing.
tree_cache() {
  local dir
  dir=$(dirname "$1")
  for c in "$dir/CMakeCache.txt" "$(dirname "$dir")/CMakeCache.txt"; do
    [ -f "$c" ] && { echo "$c"; return 0; }
  done
  return 0
}
if [ $test_only = 0 ]; then
  for h in "$handler" "$handler64"; do
    cache=$(tree_cache "$h")
    if [ -n "$cache" ] && [ -z "$(sed -n 's/^VANTORIMA_LINK_KEYS:[A-Z]*=//p' "$cache")" ]; then
      fail "$h was built with the test link key (VANTORIMA_LINK_KEYS is empty in $cache): a release is" \
        "built with the service's own public key (-DVANTORIMA_LINK_KEYS=PUBLIC.pem)"
    fi
    # Whoever is on the way of a plain report could tell the player's page anything.
    report=
    [ -n "$cache" ] && report=$(sed -n 's/^VANTORIMA_LINK_REPORT:[A-Z]*=//p' "$cache")
    if [ -n "$report" ] && [ "${report#https://}" = "$report" ]; then
      fail "$h reports links to $report (VANTORIMA_LINK_REPORT in $cache): a release reports over https" \
        "(-DVANTORIMA_LINK_REPORT=https://host/path), or not at all (empty)"
    fi
  done
  test_keys=()
  for pem in "$testdir/link-pub.pem" "$(dirname "$handler")/test-signing/link-pub.pem" \
    "$(dirname "$handler64")/test-signing/link-pub.pem"; do
    [ -f "$pem" ] && test_keys+=("$pem")
  done
  python3 - "$handler" "$handler64" "${test_keys[@]}" <<'KEYS' || fail "a handler trusts the test link key (above)"
import subprocess, sys
handlers, keys, found = sys.argv[1:3], sys.argv[3:], False
for key in keys:
    der = subprocess.run(["openssl", "pkey", "-pubin", "-in", key, "-outform", "DER"], capture_output=True).stdout
    for path in handlers:
        if len(der) > 64 and der[-64:] in open(path, "rb").read():
            print("package: %s holds the test link key of %s: it would take links that anyone with a build tree"
                  " can sign" % (path, key), file=sys.stderr)
            found = True
sys.exit(1 if found else 0)
KEYS
  # Every program's build settings decide what it trusts: a program whose
  # build tree cannot be found (copied out of it) says nothing about them.
  for m in "$module" "$module64" "$handler" "$handler64"; do
    cache=$(tree_cache "$m")
    [ -n "$cache" ] || fail "cannot read the build settings of $m (no CMakeCache.txt beside it or above its bin/):" \
      "a release is packaged from its build trees"
    setting() { sed -n "s/^$1:[A-Z]*=//p" "$cache" | head -n 1; }
    # Signed on purpose: the installer's signer check "self" must then never
    # take an unreadable signature of its own for a developer's build.
    grep -qE '^VANTORIMA_SIGNED_BUILD:BOOL=(ON|1|TRUE|YES)$' "$cache" ||
      fail "$m was not built as a signed build: a release is built with -DVANTORIMA_SIGNED_BUILD=ON"
    # Who signs what the update host serves decides what the update dialog
    # and the launcher's renewal start: off checks nothing, empty takes any
    # CA's signer, and plain http lets anyone on the way serve it.
    signers=$(setting VANTORIMA_INSTALLER_SIGNERS)
    if [ -z "$(tr -d ' \t;' <<<"$signers")" ] || [ "${signers,,}" = off ]; then
      fail "$m was built with VANTORIMA_INSTALLER_SIGNERS '$signers': a release names its signers (self, or a list)"
    fi
    [[ "$(setting VANTORIMA_UPDATE_HOST)" == [Hh][Tt][Tt][Pp][Ss]://* ]] ||
      fail "$m was built with the update host '$(setting VANTORIMA_UPDATE_HOST)': a release serves its" \
        "installer and launcher over https (-DVANTORIMA_UPDATE_HOST=https://...)"
  done
fi

# Signs $1 into $2, described as $3. The key's password goes through a pipe, never the command line.
sign() {
  local args=(sign -certs "$cert" -key "$key" -h sha256 -n "${3:-Vantorima ActiveX Control}")
  [ -n "${VANTORIMA_SIGN_URL:-}" ] && args+=(-i "$VANTORIMA_SIGN_URL")
  [ -n "${VANTORIMA_SIGN_TIMESTAMP:-}" ] && args+=(-ts "$VANTORIMA_SIGN_TIMESTAMP")
  if [ -n "${VANTORIMA_SIGN_PASS:-}" ]; then
    printf '%s' "$VANTORIMA_SIGN_PASS" | osslsigncode "${args[@]}" -readpass - -in "$1" -out "$2" >/dev/null
  else
    osslsigncode "${args[@]}" -in "$1" -out "$2" >/dev/null
  fi || fail "osslsigncode could not sign $(basename "$1")"
}

# The modules are signed before they go into the CAB: the browser checks the
# CAB's signature when it downloads, Windows the module's when it loads.
mkdir "$work/cab"
sign "$module" "$work/cab/Vantorima.ocx"
sign "$module64" "$work/cab/Vantorima64.ocx"
cp "$top/package/Vantorima.inf" "$work/cab/Vantorima.inf"
contents=(Vantorima.ocx Vantorima64.ocx Vantorima.inf)
(cd "$work/cab" && gcab -c -n -z "$work/unsigned.cab" "${contents[@]}") || fail "gcab failed"
sign "$work/unsigned.cab" "$work/Vantorima.cab"
for f in "${contents[@]}"; do mv -f "$work/cab/$f" "$out/$f"; done
mv -f "$work/Vantorima.cab" "$out/Vantorima.cab"
# The page's model and its script, as they are.
page_files=(example.html vantorima.js)
for f in "${page_files[@]}"; do cp "$top/package/$f" "$out/$f"; done

# The link handler, beside the modules: the client's installer carries it.
mkdir -p "$out/handler/x86" "$out/handler/x64"
sign "$handler" "$work/handler-x86.exe" "Vantorima Link Handler"
sign "$handler64" "$work/handler-x64.exe" "Vantorima Link Handler"
mv -f "$work/handler-x86.exe" "$out/handler/x86/VantorimaLaunch.exe"
mv -f "$work/handler-x64.exe" "$out/handler/x64/VantorimaLaunch.exe"
cp "$top/package/handler-README.txt" "$out/handler/README.txt"
# The launcher the page offers, where the page links it: the 32-bit one runs everywhere.
mkdir -p "$out/service"
cp "$out/handler/x86/VantorimaLaunch.exe" "$out/service/VantorimaLaunch.exe"

# --- checks -------------------------------------------------------------------
listed=$(gcab -t "$out/Vantorima.cab" | sort | tr '\n' ' ')
[ "$listed" = "Vantorima.inf Vantorima.ocx Vantorima64.ocx " ] ||
  fail "the CAB holds '$listed', not the two modules and the INF"
mkdir "$work/x"
gcab -x -C "$work/x" "$out/Vantorima.cab" >/dev/null || fail "the CAB does not unpack"
cmp -s "$work/x/Vantorima.inf" "$top/package/Vantorima.inf" || fail "the INF in the CAB is not package/Vantorima.inf"
# Signing must change nothing else: without its signature each module is the build's.
for pair in "Vantorima.ocx:$module" "Vantorima64.ocx:$module64"; do
  name=${pair%%:*}
  cmp -s "$work/x/$name" "$out/$name" || fail "$name in the CAB is not the signed one"
  osslsigncode remove-signature -in "$work/x/$name" -out "$work/unsigned-$name" >/dev/null
  cmp -s "$work/unsigned-$name" "${pair#*:}" || fail "the signed $name is not ${pair#*:}"
done

for pair in "x86/VantorimaLaunch.exe:$handler" "x64/VantorimaLaunch.exe:$handler64"; do
  osslsigncode remove-signature -in "$out/handler/${pair%%:*}" -out "$work/unsigned-handler" >/dev/null
  cmp -s "$work/unsigned-handler" "${pair#*:}" || fail "the signed handler/${pair%%:*} is not ${pair#*:}"
  rm -f "$work/unsigned-handler"
done
for f in "${page_files[@]}"; do
  cmp -s "$out/$f" "$top/package/$f" || fail "$f is not package/$f"
done
# The link signing key belongs to the service alone.
if grep -rlq -e "PRIVATE KEY" "$out"; then
  fail "a private key is in the package: $(grep -rl -e "PRIVATE KEY" "$out" | tr '\n' ' ')"
fi

# Every signature, by this certificate and no other.
# (An SPC or DER chain gives no fingerprint here: then any leaf the roots accept.)
leaf=$(openssl x509 -in "$cert" -noout -fingerprint -sha256 2>/dev/null || true)
leaf=${leaf#*=}
verify=(verify -CAfile "$cafile")
[ -n "$leaf" ] && verify+=(-require-leaf-hash "sha256:${leaf//:/}")
for f in "$work/x/Vantorima.ocx" "$work/x/Vantorima64.ocx" "$out/Vantorima.cab" "$out/handler/x86/VantorimaLaunch.exe" \
  "$out/handler/x64/VantorimaLaunch.exe" "$out/service/VantorimaLaunch.exe"; do
  osslsigncode "${verify[@]}" -in "$f" >"$work/verify.log" 2>&1 ||
    { cat "$work/verify.log" >&2; fail "the signature of $(basename "$f") does not verify"; }
done

# One class id and one version everywhere a browser or Windows reads them,
# and each module named for the processor it is built for.
python3 - "$top/res/Vantorima.idl" "$out/Vantorima.ocx" "$out/Vantorima64.ocx" "$top/package/Vantorima.inf" \
  "$top/package/example.html" "$out/handler/x86/VantorimaLaunch.exe" "$out/handler/x64/VantorimaLaunch.exe" \
  <<'EOF' || fail "the package's class id, version or processors disagree (above)"
import re, struct, sys

idl, module, module64, inf, page, handler, handler64 = sys.argv[1:]
errors = []

clsid = re.search(r"uuid\(([0-9A-Fa-f-]{36})\)[^\]]*\]\s*coclass", open(idl).read()).group(1).upper()


def version_and_machine(path):
    data = open(path, "rb").read()
    # VS_FIXEDFILEINFO's signature behind the version block's key (the
    # handler's code holds the same four bytes: it reads version blocks too).
    at = data.find(struct.pack("<I", 0xFEEF04BD), data.find("VS_VERSION_INFO".encode("utf-16-le")))
    ms, ls = struct.unpack_from("<II", data, at + 8)
    pe = struct.unpack_from("<I", data, 0x3C)[0]  # the PE header; its machine follows "PE\0\0"
    return "%d,%d,%d,%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), struct.unpack_from("<H", data, pe + 4)[0]


version, machine = version_and_machine(module)
version64, machine64 = version_and_machine(module64)
if version64 != version:
    errors.append("the modules' versions differ: %s and %s" % (version, version64))
if (machine, machine64) != (0x14C, 0x8664):
    errors.append("the modules are built for machines 0x%X and 0x%X, not x86 and x64" % (machine, machine64))
for path, want in ((handler, 0x14C), (handler64, 0x8664)):
    v, m = version_and_machine(path)
    if (v, m) != (version, want):
        errors.append("%s is version %s for machine 0x%X, expected %s for 0x%X" % (path, v, m, version, want))

sections, name = {}, None
for line in open(inf).read().splitlines():
    line = line.split(";", 1)[0].strip()
    if line.startswith("["):
        name = line.strip("[]").lower()
        sections[name] = {}
    elif "=" in line and name:
        k, v = line.split("=", 1)
        sections[name][k.strip().lower()] = v.strip()
for name, mine, other in (("Vantorima.ocx", "x86", "amd64"), ("Vantorima64.ocx", "amd64", "x86")):
    code = sections.get(name.lower(), {})
    want = {"file-win32-" + mine: "thiscab", "file-win32-" + other: "ignore", "clsid": "{%s}" % clsid,
            "fileversion": version, "registerserver": "yes"}
    for k, v in want.items():
        if code.get(k, "").upper() != v.upper():
            errors.append("INF [%s] %s=%s, expected %s" % (name, k, code.get(k), v))
    if name.lower() not in sections.get("add.code", {}):
        errors.append("INF [Add.Code] does not name " + name)
if sections.get("version", {}).get("signature") != '"$CHICAGO$"':
    errors.append('INF [version] has no signature="$CHICAGO$"')

html = open(page).read()
obj = re.search(r"<object\b[^>]*>", html, re.I | re.S).group(0)
if ('classid="clsid:%s"' % clsid).lower() not in obj.lower():
    errors.append("example.html's classid is not clsid:%s" % clsid)
if ('codebase="Vantorima.cab#version=%s"' % version) not in obj:
    errors.append("example.html's codebase is not Vantorima.cab#version=%s" % version)
if not re.search(r'<script\s+src="vantorima\.js">', html):
    errors.append("example.html does not load vantorima.js")
params = re.findall(r'<param\s+name="([^"]+)"', html, re.I)
if sorted(params) != sorted(["strID", "strPass", "key", "strServer"]):
    errors.append("example.html's params are %s" % params)

for e in errors:
    print("package: " + e, file=sys.stderr)
sys.exit(1 if errors else 0)
EOF

[ $test_only = 0 ] ||
  echo "package: signed with the build's test certificate, trusting the test link key: for tests only, deployable nowhere"
echo "package: $out/Vantorima.cab (Vantorima.ocx, Vantorima64.ocx, Vantorima.inf), all signed by $(openssl x509 -in "$cert" -noout -subject 2>/dev/null || echo "$cert"); example page $out/example.html with its script; link handler in $out/handler/, the page's launcher $out/service/VantorimaLaunch.exe"
