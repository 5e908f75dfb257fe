#!/usr/bin/env bash
# Fails when a binary carries a test hook (a symbol in kits::testhooks or net::testhooks): only test
# binaries may replace the pinned certificates or the trust store that default handling uses.
# With --expect-hooks it checks the check instead: it fails unless the binary carries a hook.
# Usage: check_no_test_hooks.sh [--expect-hooks] path/to/nm binary
set -uo pipefail
expect_hooks=0
if [[ ${1:-} == --expect-hooks ]]; then
  expect_hooks=1
  shift
fi
nm=$1
binary=$2
[[ -f $binary ]] || { echo "no such binary: $binary"; exit 2; }
symbols=$("$nm" -C "$binary" 2>&1) || { echo "nm failed on $binary: $symbols"; exit 2; }
hooks=$(grep -E '(kits|net)::testhooks::' <<<"$symbols")
if [[ $expect_hooks -eq 1 ]]; then
  [[ -n $hooks ]] && { echo "the check finds the hooks of $binary"; exit 0; }
  echo "the check finds no hook in $binary, which links them"
  exit 1
fi
if [[ -n $hooks ]]; then
  echo "$binary carries test hooks:"
  echo "$hooks"
  exit 1
fi
echo "$binary carries no test hooks"
