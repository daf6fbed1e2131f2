#!/usr/bin/env bash
# The main job: installs what is missing, builds, then (scripts/run_installer.py) builds the installer with
# the sample release's public key and the uninstaller, both Authenticode-signed with a test certificate
# (build/code-signing) and checked, publishes and signs the sample release, serves it at the installer's
# built-in base URL, runs the installer under Wine in out/prefix and reports what the installation left.
#   scripts/run.sh            fresh prefix, one installation
#   scripts/run.sh --again    one more installation over the one in out/prefix
#   scripts/run.sh --twice    fresh prefix, installation, then a second one over it
#   scripts/run.sh --uninstall  removes the installation in out/prefix with its registered uninstaller
#   scripts/run.sh --silent   fresh prefix, one unattended installation (/S): no window, its exit code
#   scripts/run.sh --i686     the same with the shipped 32-bit build, in its emulated runtime (out/i686)
# On $DISPLAY a person clicks install (and answers the uninstaller); with MIREVALE_HEADLESS=1 or without a
# display the job uses a private Xvfb and does so by itself. Exit status: 0 all runs complete (nothing
# left after --uninstall), 1 a run did not complete (something left), 3 cannot run here.
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
PYTHONPATH=$top/tools${PYTHONPATH:+:$PYTHONPATH} python3 "$top/scripts/run_installer.py" --out "$out" "${mode[@]}" "${args[@]}" || status=$?
exit $status
