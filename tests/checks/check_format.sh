#!/usr/bin/env bash
# Fails when clang-format would change any C++ file of the tree: lists each such file and the
# first lines of the change. The tree's own .clang-format decides.
# Usage: check_format.sh path/to/clang-format source-root
set -uo pipefail
clang_format=$1
root=$2
cd "$root" || exit 2

folders=()
for folder in app bench export inspectors kits mainwindow model platform tests; do
  [[ -d $folder ]] && folders+=("$folder")
done
mapfile -t files < <(find "${folders[@]}" -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
if [[ ${#files[@]} -eq 0 ]]; then
  echo "no C++ files found under $root"
  exit 2
fi

changes=$(mktemp)
trap 'rm -f "$changes"' EXIT
unformatted=0
for file in "${files[@]}"; do
  if ! "$clang_format" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" - >"$changes"
  then
    unformatted=$((unformatted + 1))
    head -n 20 "$changes"
  fi
done
if [[ $unformatted -gt 0 ]]; then
  echo "$unformatted of ${#files[@]} files are not formatted; run: $clang_format -i <file>"
  exit 1
fi
echo "${#files[@]} files formatted"
