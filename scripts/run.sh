#!/usr/bin/env bash
# The main job: installs what is missing, builds, publishes the sample release, serves it at the
# installer's built-in base URL and runs the installer under Wine in out/prefix, then reports what the
# installation left behind (scripts/run_installer.py does that part).
#   scripts/run.sh            fresh prefix, one installation
#   scripts/run.sh --again    one more installation over the one in out/prefix
#   scripts/run.sh --twice    fresh prefix, installation, then a second one over it
#   scripts/run.sh --i686     the same with the shipped 32-bit build, in its emulated runtime (out/i686)
# On $DISPLAY a person clicks install; with MIREVALE_HEADLESS=1 or without a display the job uses a private
# Xvfb and clicks by itself. Exit status: 0 all runs complete, 1 a run did not complete, 3 cannot run here.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
echo "built: $top/build/i686/MirevaleSetup.exe (shipped) and $top/build/x86_64/MirevaleSetup.exe"

out=$top/out
args=()
for arg in "$@"; do
  if [ "$arg" = --i686 ]; then
    "$top/scripts/setup-i686-runtime.sh"
    export MIREVALE_WIDTH=i686 MIREVALE_BUILD=$top/build/i686 MIREVALE_WINE_PREFIX=$top/build/i686-runtime/prefix
    out=$top/out/i686
  else
    args+=("$arg")
  fi
done

mode=()
if [ -z "${DISPLAY:-}" ] || [ -n "${MIREVALE_HEADLESS:-}" ]; then
  . "$top/scripts/xvfb.sh"
  mode=(--headless)
fi
# Not exec: xvfb.sh's exit trap stops the private display when the driver is done.
status=0
python3 "$top/scripts/run_installer.py" --out "$out" "${mode[@]}" "${args[@]}" || status=$?
exit $status
