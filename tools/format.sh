#!/bin/bash
# Formats every C++ source of the tree with clang-format-14 and .clang-format;
# --check changes nothing and fails, naming them, when files are not formatted.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
format=clang-format-14
mapfile -t files < <(git ls-files '*.cpp' '*.h' '*.c')
if [ "${1:-}" != --check ]; then
  "$format" -i "${files[@]}"
  exit 0
fi
bad=()
for f in "${files[@]}"; do
  "$format" "$f" | cmp -s - "$f" || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  printf 'format: not formatted (run tools/format.sh): %s\n' "${bad[@]}"
  exit 1
fi
echo "format: ${#files[@]} files formatted"
