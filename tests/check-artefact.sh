#!/usr/bin/env bash
# The shipped programs (installer, uninstaller) are stripped 32-bit GUI programs that need nothing but
# Windows' own DLLs.
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
# Each says what it needs (administrator, Windows 7 to 11) and who made it.
if ! python3 - "$exe" <<'EOF'
import sys
data = open(sys.argv[1], "rb").read()
wanted = [b'level="requireAdministrator"'] + [b'<supportedOS Id="{%s}"/>' % g for g in (
    b"35138b9a-5d96-4fbd-8e2d-a2440225f93a", b"4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
    b"1f676c76-80e1-4239-95bb-83d0f6d0da78", b"8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")]
wanted += [name.encode("utf-16-le") + b"\0\0" for name in
           ("VS_VERSION_INFO", "CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion")]
missing = [w for w in wanted if w not in data]
for w in missing:
    print("missing from the manifest or the version resource:", w)
sys.exit(1 if missing else 0)
EOF
then
  echo "$exe: no application manifest or version resource as expected"; exit 1
fi
echo "$exe: PE32 GUI, stripped, manifest and version resource, $(stat -c %s "$exe") bytes, imports only $(tr '\n' ' ' <<<"$dlls")"
