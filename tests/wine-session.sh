#!/usr/bin/env bash
# wine-session.sh PREFIX [PROBE]: makes sure a Wine session runs for PREFIX, ready for the programs of
# a test. Wine ends a session as soon as its last program has ended, and a program that opens the next
# one can run before the new session lists its drives or has its desktop. So the session is started
# here and kept MIREVALE_SESSION_IDLE seconds (60 unless set) after its last program ends; when this
# starts it and PROBE (tests/tools/window_probe.exe) is given, it waits until the session is ready.
set -euo pipefail
prefix=$1
probe=${2:-}
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: the 32-bit build's runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$(dirname "$0")/wine-i686.sh")
# Exit code 2: a server, and with it the session, runs already.
"${runner[@]}" wineserver -p"${MIREVALE_SESSION_IDLE:-60}" </dev/null >/dev/null 2>&1 || exit 0
[ -n "$probe" ] && [ -n "${DISPLAY:-}" ] || exit 0
# The probe always prints what it saw: one that Wine ended within a second, before it printed anything,
# never ran (tests/wine-run.sh) and is started once more.
for attempt in 1 2; do
  start=$(date +%s%N)
  report=$("${runner[@]}" wine "$probe" session </dev/null 2>/dev/null) && exit 0
  elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
  if [ -n "$report" ] || [ $elapsed -ge 1000 ] || [ $attempt -eq 2 ]; then
    echo "wine-session.sh: the Wine session of $prefix did not become ready: $(echo $report)" >&2
    exit 1
  fi
  echo "wine-session.sh: Wine ended the session probe after $elapsed ms, before it printed anything; starting it once more" >&2
done
