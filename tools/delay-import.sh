#!/bin/bash
# A delay-loaded import library of the functions of a system import library:
#   delay-import.sh TRIPLE IMPORT-LIBRARY DLL-NAME OUTPUT
# Each function that the MinGW import library names is, in OUTPUT, a thunk
# that loads DLL-NAME on the first call through __delayLoadHelper2 (the
# program's own, handler/SystemLibraries.cpp) instead of an entry of the
# program's import table.
set -eu
triple=$1 library=$2 dll=$3 out=$4
def=$out.def
{
  echo "LIBRARY $dll"
  echo "EXPORTS"
  # i686: __imp__Name@N; x86_64: __imp_Name.
  "$triple-nm" -g "$library" | awk '$2 == "I" && $3 ~ /^__imp_/ { print $3 }' |
    sed -e 's/^__imp_//' -e "$([ "${triple%%-*}" = i686 ] && echo 's/^_//' || echo 's/^$//')" | sort -u
} > "$def"
rm -f "$out"
"$triple-dlltool" --kill-at --input-def "$def" --dllname "$dll" --output-delaylib "$out"
# Only through the thunks: a call compiled as dllimport (through __imp_<name>)
# would jump to a slot whose stub the linker drops, so such a reference must
# fail to link rather than crash (the launcher compiles with DECLSPEC_IMPORT
# empty).
"$triple-objcopy" --wildcard --localize-symbol='__imp_*' "$out"
