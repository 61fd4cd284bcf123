#!/bin/bash
# make test: set-up, the three builds, every test, one summary.
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

# Every include as the layout of docs/developers.md allows.
if "$top/tools/check-includes.py" >"$top/build/includes.log" 2>&1; then
  summary+=("$(tail -1 "$top/build/includes.log")")
else
  status=1
  summary+=("includes: FAILED; see $top/build/includes.log")
  head -20 "$top/build/includes.log"
fi

# The link door's outcome words (one set in C++, Python and JavaScript), the
# docs against the code (tools/check-docs.py), and the link vectors against
# their generator.
run_check() {  # name, then the command; its last line is the summary
  local name=$1 log=$top/build/$1.log
  shift
  if "$@" >"$log" 2>&1; then
    summary+=("$(tail -1 "$log")")
  else
    status=1
    summary+=("$name: FAILED; see $log")
    head -20 "$log"
  fi
}
run_check outcomes /usr/bin/python3 "$top/tools/check-outcomes.py"
run_check docs /usr/bin/python3 "$top/tools/check-docs.py"
run_check link-vectors /usr/bin/python3 "$top/tools/make-link-vectors.py" --check "$top/docs/link-vectors.json"

run_suite host ctest --test-dir build/host --output-on-failure

# The tests of each Windows build run in a fresh Wine session of its own
# (32-bit, then 64-bit), stopped whatever happens, that trusts the build's
# test root (the stand-in installer is signed). One after the other: both use
# the installer's port.
artifacts=$top/build/artifacts
mkdir -p "$artifacts"
trap '"$top/tools/wine-session.sh" stop "$top/build/test-session"; "$top/tools/wine-session.sh" stop "$top/build/test-session64"' EXIT
run_windows_suite() {  # build, session directory, wine-session.sh options...
  local tree=$1 session=$2 shots=$artifacts
  shift 2
  [ "$tree" = win32 ] || shots=$artifacts/$tree
  mkdir -p "$shots"
  "$top/tools/wine-session.sh" start "$@" "$session" "$top/build/win32/test-signing/root.pem" >/dev/null || exit 1
  # shellcheck disable=SC1091
  . "$session/wine.env"
  # Screenshots the tests take, for people to look at.
  VANTORIMA_ARTIFACTS=$(winepath -w "$shots" 2>/dev/null)
  export VANTORIMA_ARTIFACTS
  run_suite "$tree" ctest --test-dir "build/$tree" --output-on-failure -j "$(nproc)"
  "$top/tools/wine-session.sh" stop "$session"
}
run_windows_suite win32 "$top/build/test-session"
run_windows_suite win64 "$top/build/test-session64" --win64
for bmp in "$artifacts"/*.bmp "$artifacts"/win64/*.bmp; do
  [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

echo "== test summary"
printf '   %s\n' "${summary[@]}"
exit $status
