#!/usr/bin/env bash
# The format check itself: it passes on a formatted file and fails, naming the file, on one planted
# with a house-style fault (an unsorted include block, a line over 120 columns).
# Usage: check_format_test.sh path/to/clang-format source-root
set -uo pipefail
clang_format=$1
root=$2
check=$root/tests/checks/check_format.sh
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
cp "$root/.clang-format" "$tree/"
mkdir -p "$tree/model"
failed=0
fail() { echo "FAILED: $*"; failed=1; }

cat >"$tree/model/tidy.cpp" <<'CPP'
// A formatted file.
#include <string>
#include <vector>

int count(const std::vector<std::string>& names)
{
    return static_cast<int>(names.size());
}
CPP
"$check" "$clang_format" "$tree" >"$tree/out" 2>&1 || fail "a formatted tree is reported: $(cat "$tree/out")"

cat >"$tree/model/untidy.cpp" <<'CPP'
// Includes out of order.
#include <vector>
#include <string>
CPP
if "$check" "$clang_format" "$tree" >"$tree/out" 2>&1; then
  fail "an unsorted include block passes"
fi
grep -q "model/untidy.cpp" "$tree/out" || fail "the report does not name the file: $(cat "$tree/out")"
grep -q "model/tidy.cpp" "$tree/out" && fail "the formatted file is named too"
rm "$tree/model/untidy.cpp"

{
  echo '// A line over 120 columns.'
  printf 'int total(int first, int second, int third, int fourth, int fifth, int sixth, int seventh, int eighth,'
  printf ' int ninth, int tenth);\n'
} >"$tree/model/long.h"
"$check" "$clang_format" "$tree" >"$tree/out" 2>&1 && fail "a line over 120 columns passes"
grep -q "model/long.h" "$tree/out" || fail "the report does not name the long file"

exit $failed
