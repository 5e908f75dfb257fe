#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop needs there: the program in
# bin/, a desktop entry that desktop-file-validate accepts and whose window class is the program's,
# and the icon in the hicolor theme as SVG and as PNGs of their folders' sizes.
# Usage: install_layout.sh <build folder>
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

[[ -x $prefix/bin/horavine ]] || fail "no program at bin/horavine"
entry=$prefix/share/applications/horavine.desktop
if [[ -f $entry ]]; then
  desktop-file-validate "$entry" || fail "desktop-file-validate refused $entry"
  for line in 'Name=Horavine' 'GenericName=Time Tracker' 'Exec=horavine' 'Icon=horavine' \
              'Categories=Office;ProjectManagement;Qt;' 'StartupWMClass=Horavine'; do
    grep -qxF "$line" "$entry" || fail "the desktop entry lacks '$line'"
  done
else
  fail "no desktop entry at share/applications/horavine.desktop"
fi

icons=$prefix/share/icons/hicolor
[[ -s $icons/scalable/apps/horavine.svg ]] || fail "no scalable icon"
for size in 16 22 24 32 48 64 128 256 512; do
  png=$icons/${size}x${size}/apps/horavine.png
  if [[ ! -s $png ]]; then
    fail "no ${size}px icon"
    continue
  fi
  # The PNG header's width and height (big-endian, bytes 16 to 23).
  read -r width height < <(python3 -c 'import struct,sys; d=open(sys.argv[1],"rb").read(24); print(*struct.unpack(">II", d[16:24]) if d[:8]==b"\x89PNG\r\n\x1a\n" else (0, 0))' "$png")
  [[ $width == "$size" && $height == "$size" ]] || fail "the ${size}px icon is ${width}x${height}"
done

if [[ $failed -ne 0 ]]; then
  echo "installed:"; (cd "$prefix" && find . -type f | sort)
  exit 1
fi
echo "1 passed, 0 failed"
