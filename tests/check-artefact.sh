#!/usr/bin/env bash
# The shipped installer is a stripped 32-bit GUI program that needs nothing but Windows' own DLLs.
set -euo pipefail
exe=$1
head=$(i686-w64-mingw32-objdump -f "$exe")
grep -q 'file format pei-i386' <<<"$head" || { echo "$exe: not a PE32 i386 program"; exit 1; }
hdr=$(i686-w64-mingw32-objdump -p "$exe")
grep -qE 'Subsystem\s+0+2\s' <<<"$hdr" || { echo "$exe: not a GUI-subsystem program"; exit 1; }
if ! grep -q 'symbols stripped' <<<"$hdr" || i686-w64-mingw32-objdump -h "$exe" | grep -q ' \.debug_'; then
  echo "$exe: not stripped (symbols or debug sections)"; exit 1
fi
dlls=$(grep 'DLL Name:' <<<"$hdr" | awk '{print tolower($3)}' | sort -u)
if grep -qE 'libstdc|libgcc|winpthread|zlib|mingw' <<<"$dlls"; then
  echo "$exe imports non-system DLLs:"; echo "$dlls"; exit 1
fi
echo "$exe: PE32 GUI, stripped, $(stat -c %s "$exe") bytes, imports only $(tr '\n' ' ' <<<"$dlls")"
