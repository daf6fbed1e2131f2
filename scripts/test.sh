#!/usr/bin/env bash
# The one test command: installs what is missing, builds both widths, runs every test under Wine.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
"$top/tests/check-artefact.sh" "$top/build/i686/MirevaleSetup.exe"
if [ -f "$top/build/native/CTestTestfile.cmake" ]; then
  (cd "$top/build/native" && ctest --output-on-failure)
fi
cd "$top/build/x86_64"
. "$top/scripts/xvfb.sh"
ctest --output-on-failure "$@"
