#!/bin/bash
# make test: set-up, both builds, every test, one summary.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"

"$top/tools/setup.sh" || exit 1
"$top/tools/build.sh" || exit 1

status=0
summary=()
run_suite() {  # name, then the ctest command
  local name=$1 log=$top/build/$1-tests.log
  shift
  if "$@" >"$log" 2>&1; then
    summary+=("$name: $(grep -E 'tests passed' "$log" | tail -1)")
  else
    status=1
    summary+=("$name: FAILED ($(grep -E 'tests passed|tests failed' "$log" | tail -1)); see $log")
    grep -E '^\s+[0-9]+ - |Failure|\*\*\*' "$log" | head -40
  fi
}

# Every C++ file as tools/format.sh leaves it.
if "$top/tools/format.sh" --check >"$top/build/format.log" 2>&1; then
  summary+=("$(tail -1 "$top/build/format.log")")
else
  status=1
  summary+=("format: FAILED; see $top/build/format.log")
  head -20 "$top/build/format.log"
fi

run_suite host ctest --test-dir build/host --output-on-failure

# The Windows tests run in one fresh Wine session, stopped whatever happens,
# that trusts the build's test root (the stand-in installer is signed).
session=$top/build/test-session
"$top/tools/wine-session.sh" start "$session" "$top/build/win32/test-signing/root.pem" >/dev/null || exit 1
trap '"$top/tools/wine-session.sh" stop "$session"' EXIT
# shellcheck disable=SC1091
. "$session/wine.env"
# Screenshots the tests take, for people to look at.
artifacts=$top/build/artifacts
mkdir -p "$artifacts"
VANTORIMA_ARTIFACTS=$(winepath -w "$artifacts" 2>/dev/null)
export VANTORIMA_ARTIFACTS
run_suite win32 ctest --test-dir build/win32 --output-on-failure -j "$(nproc)"
for bmp in "$artifacts"/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

echo "== test summary"
printf '   %s\n' "${summary[@]}"
exit $status
