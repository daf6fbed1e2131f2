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
here=$(cd "$(dirname "$0")" && pwd)
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$here/wine-i686.sh")
# Exit code 2: a server, and with it the session, runs already.
"${runner[@]}" wineserver -p"${MIREVALE_SESSION_IDLE:-60}" </dev/null >/dev/null 2>&1 || exit 0
[ -n "$probe" ] && [ -n "${DISPLAY:-}" ] || exit 0
# The probe always prints what it saw: one that Wine ended before it ran is started once more
# (mirevale.wine).
report=$(PYTHONPATH=$here/../tools${PYTHONPATH:+:$PYTHONPATH} python3 -m mirevale.wine retry "the session probe" \
  "${runner[@]}" wine "$probe" session </dev/null) && exit 0
echo "wine-session.sh: the Wine session of $prefix did not become ready: $(echo $report)" >&2
exit 1
