#!/usr/bin/env bash
# wine-run.sh TEMPLATE PROGRAM [ARGS...]: runs a Windows program under Wine, as the installer's users
# run it (Chinese locale), in a copy of the template prefix made for this run alone (the template is
# made on first use and never written by a test; the copy goes when the program has ended), in a
# session that is ready (tests/wine-session.sh; the probe is the window_probe.exe beside the program,
# if there is one). The programs are the test programs (GoogleTest), whose output is passed on.
set -euo pipefail
template=$(realpath -m "$1"); shift
here=$(cd "$(dirname "$0")" && pwd)
export PYTHONPATH=$here/../tools${PYTHONPATH:+:$PYTHONPATH}
runs=$template.runs
mkdir -p "$runs"
prefix=$(mktemp -d "$runs/$(basename "$1" .exe)-XXXXXX")/prefix
python3 -m mirevale.wine copy-prefix "$template" "$prefix"
probe=$(dirname "$1")/window_probe.exe
[ -f "$probe" ] || probe=
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: a program of the 32-bit build, in its runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$here/wine-i686.sh")
trap '"${runner[@]}" wineserver -k >/dev/null 2>&1 || true; "${runner[@]}" wineserver -w >/dev/null 2>&1 || true
      rm -rf "$(dirname "$prefix")"' EXIT
"$here/wine-session.sh" "$prefix" "$probe"
# A test program always prints: one that Wine ended before it ran is started once more (mirevale.wine).
status=0
python3 -m mirevale.wine retry "$(basename "$1")" "${runner[@]}" wine "$@" || status=$?
exit $status
