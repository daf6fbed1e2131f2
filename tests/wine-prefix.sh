#!/usr/bin/env bash
# wine-prefix.sh PREFIX: makes a Wine prefix for the tests once (later calls return at once).
# HOME points into the build tree so that the prefix's Desktop and similar folders never reach the
# real home folder; the menu builder is off so Start-menu links leave no .desktop files behind.
set -euo pipefail
prefix=$1
[ -f "$prefix/.ready" ] && exit 0
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9
[ -f "$prefix/.ready" ] && exit 0
rm -rf "$prefix" "$prefix.home"
mkdir -p "$prefix.home"
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: the prefix of the 32-bit build's runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$(cd "$(dirname "$0")" && pwd)/wine-i686.sh")
"${runner[@]}" wine wineboot -i >/dev/null 2>&1
# Shell folders that wineboot links into HOME become real folders inside the prefix.
user_dir=$(find "$prefix/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n 1)
for link in "$user_dir"/*; do
  if [ -L "$link" ]; then rm "$link"; mkdir -p "$link"; fi
done
# Chinese text in the window and dialogs: map the faces the program asks for to an installed CJK font.
{
  printf '\xff\xfe'
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"宋体"="Noto Sans CJK SC"\r\n"SimSun"="Noto Sans CJK SC"\r\n' |
    iconv -f UTF-8 -t UTF-16LE
} > "$prefix/fonts.reg"
"${runner[@]}" wine regedit /S "$prefix/fonts.reg" >/dev/null 2>&1 || true
"${runner[@]}" wineserver -w
touch "$prefix/.ready"
