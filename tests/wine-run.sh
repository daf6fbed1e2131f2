#!/usr/bin/env bash
# wine-run.sh PREFIX PROGRAM [ARGS...]: runs a Windows program under Wine in the given prefix, as the
# installer's users run it (Chinese locale), creating the prefix on first use.
set -euo pipefail
prefix=$(realpath -m "$1"); shift
here=$(cd "$(dirname "$0")" && pwd)
"$here/wine-prefix.sh" "$prefix"
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: a program of the 32-bit build, in its runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$here/wine-i686.sh")
exec "${runner[@]}" wine "$@"
