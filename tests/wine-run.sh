#!/usr/bin/env bash
# wine-run.sh TEMPLATE PROGRAM [ARGS...]: runs a Windows program under Wine, as the installer's users
# run it (Chinese locale), in a copy of the template prefix made for this run alone (the template is
# made on first use and never written by a test; the copy goes when the program has ended), in a
# session that is ready (tests/wine-session.sh; the probe is the window_probe.exe beside the program,
# if there is one). The programs are the test programs (GoogleTest), whose output is passed on.
set -euo pipefail
template=$(realpath -m "$1"); shift
here=$(cd "$(dirname "$0")" && pwd)
runs=$template.runs
mkdir -p "$runs"
prefix=$(mktemp -d "$runs/$(basename "$1" .exe)-XXXXXX")/prefix
MIREVALE_WINE_PREFIX=$template python3 -c 'import sys; sys.path.insert(0, sys.argv[1]); import harness; harness.copy_prefix(sys.argv[2])' \
  "$here/e2e" "$prefix"
probe=$(dirname "$1")/window_probe.exe
[ -f "$probe" ] || probe=
export WINEPREFIX=$prefix HOME=$prefix.home LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
export WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# MIREVALE_WIDTH=i686: a program of the 32-bit build, in its runtime (tests/wine-i686.sh).
runner=()
[ "${MIREVALE_WIDTH:-}" = i686 ] && runner=("$here/wine-i686.sh")
# Wine here now and then ends a program with status 1 within milliseconds of its start, before the
# program runs (seen about once in a thousand starts on a busy machine; never under strace). A test
# program always prints, so an end like that, with no output within a second, is Wine's: the program is
# started once more, with a note.
out=$(mktemp)
trap '"${runner[@]}" wineserver -k >/dev/null 2>&1 || true; "${runner[@]}" wineserver -w >/dev/null 2>&1 || true
      rm -rf "$out" "$(dirname "$prefix")"' EXIT
"$here/wine-session.sh" "$prefix" "$probe"
for attempt in 1 2; do
  start=$(date +%s%N)
  status=0
  "${runner[@]}" wine "$@" >"$out" 2>&1 || status=$?
  cat "$out"
  elapsed=$(( ($(date +%s%N) - start) / 1000000 ))
  if [ $status -eq 0 ] || [ -s "$out" ] || [ $elapsed -ge 1000 ] || [ $attempt -eq 2 ]; then
    exit $status
  fi
  echo "wine-run.sh: Wine ended $(basename "$1") with status $status after $elapsed ms, before it printed anything; starting it once more" >&2
done
