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

# One clang-format run per batch of files, batches side by side: the check is ctest's longest and
# starting clang-format once per file cost most of its time. Batches name the files it would change;
# a clang-format that fails (no style file, a file it cannot read) fails the check.
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if ! printf '%s\0' "${files[@]}" | xargs -0 -n 32 -P "$(nproc)" "$clang_format" --style=file --dry-run 2>"$report"
then
  cat "$report"
  echo "clang-format failed"
  exit 2
fi
mapfile -t unformatted < <(sed -n -E 's/^(.+):[0-9]+:[0-9]+: warning: code should be clang-formatted.*/\1/p' "$report" |
  sort -u)
for file in "${unformatted[@]}"; do
  "$clang_format" --style=file "$file" | diff -u --label "$file" --label "$file (formatted)" "$file" - | head -n 20
done
if [[ ${#unformatted[@]} -gt 0 ]]; then
  echo "${#unformatted[@]} of ${#files[@]} files are not formatted; run: $clang_format -i <file>"
  exit 1
fi
echo "${#files[@]} files formatted"
