#!/bin/bash
# make package refuses, when a certificate other than the build's test one
# signs, every handler that would trust the test link key and every program
# of a build not made as a signed one; with the test certificate it packages
# and says the package is for tests only.
#   test_key_check.sh MODULE MODULE64 HANDLER HANDLER64 TEST-SIGNING WORK
set -u
module=$1 module64=$2 handler=$3 handler64=$4 signing=$5 work=$6
top=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work" && mkdir -p "$work/copies"
# Outside any build tree nothing says how a handler was built: only its bytes.
cp "$handler" "$work/copies/x86.exe" && cp "$handler64" "$work/copies/x64.exe"
# Programs of the same version and processors that hold no link key at all.
cp "$module" "$work/copies/keyless86.exe" && cp "$module64" "$work/copies/keyless64.exe"
cp "$module" "$work/copies/Vantorima.ocx" && cp "$module64" "$work/copies/Vantorima64.ocx"
# Such programs from release trees whose launcher reports over http, or https.
for scheme in http https; do
  mkdir -p "$work/$scheme" && cp "$module" "$work/$scheme/x86.exe" && cp "$module64" "$work/$scheme/x64.exe"
  printf '%s\n' "VANTORIMA_LINK_KEYS:STRING=/secure/link-pub.pem" "VANTORIMA_SIGNED_BUILD:BOOL=ON" \
    "VANTORIMA_LINK_REPORT:STRING=$scheme://go.example/link/report" >"$work/$scheme/CMakeCache.txt"
done

status=0
# name | certificate (test: the build's) | modules (tree: the build's) | handler | handler64 | expected exit |
# expected text
while IFS='|' read -r name cert modules h h64 want text; do
  [ -n "$name" ] || continue
  env=(VANTORIMA_SIGN_CERT="$signing/other-chain.pem" VANTORIMA_SIGN_KEY="$signing/other.key"
       VANTORIMA_SIGN_CAFILE="$signing/root.pem")
  [ "$cert" = test ] && env=()
  m=$module m64=$module64
  [ "$modules" = tree ] || { m=$work/copies/Vantorima.ocx m64=$work/copies/Vantorima64.ocx; }
  out=$(env -u VANTORIMA_SIGN_CERT -u VANTORIMA_SIGN_KEY "${env[@]}" bash "$top/tools/package.sh" \
        --module "$m" --module64 "$m64" --handler "$h" --handler64 "$h64" --out "$work/out-$name" \
        --test-signing "$signing" 2>&1 </dev/null)
  got=$?
  if { [ "$want" = 0 ] && [ $got != 0 ]; } || { [ "$want" != 0 ] && [ $got = 0 ]; } ||
     ! grep -qF -- "$text" <<<"$out"; then
    echo "FAILED $name: exit $got (expected $want), output:"
    echo "$out"
    status=1
  else
    echo "ok $name"
  fi
  if [ "$want" != 0 ] && [ -e "$work/out-$name/handler/x86/VantorimaLaunch.exe" ]; then
    echo "FAILED $name: a refused package left a handler behind"
    status=1
  fi
done <<ROWS
build-tree|other|tree|$handler|$handler64|1|built with the test link key
copied|other|copies|$work/copies/x86.exe|$work/copies/x64.exe|1|holds the test link key
unsigned-build|other|tree|$work/copies/keyless86.exe|$work/copies/keyless64.exe|1|not built as a signed build
keyless|other|copies|$work/copies/keyless86.exe|$work/copies/keyless64.exe|0|all signed by
report-http|other|copies|$work/http/x86.exe|$work/http/x64.exe|1|a release reports over https
report-https|other|copies|$work/https/x86.exe|$work/https/x64.exe|0|all signed by
test-certificate|test|tree|$handler|$handler64|0|for tests only
ROWS
exit $status
