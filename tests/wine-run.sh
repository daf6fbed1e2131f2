#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in the given prefix, as the
# installer's users run it (Chinese locale), creating the prefix on first use, in a session that is
# ready (tests/wine-session.sh; the probe is the window_probe.exe beside the program, if there is one).
set -euo pipefail
prefix=$(realpath -m "$1"); shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix"
probe=$(dirname "$1")/window_probe.exe
[ -f "$probe" ] || probe=
"$here/wine-session.sh" "$prefix" "$probe"
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: a program of the 32-bit build, in its runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$here/wine-i686.sh")
exec "${runner[@]}" wine "$@"
