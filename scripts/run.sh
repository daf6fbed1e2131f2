#!/usr/bin/env bash
# The main job: installs what is missing and builds the installer in both widths.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
echo "built: $top/build/i686/MirevaleSetup.exe (shipped) and $top/build/x86_64/MirevaleSetup.exe"
