#!/usr/bin/env bash
# publish-sample.sh OUTPUT_FOLDER [WINDOWS_BUILD_DIR] [--set NAME=VALUE]...
# Publishes the sample release (sample/release.txt) into OUTPUT_FOLDER, ready to be served as the base
# URL's /EX/. The client and uninstaller come from WINDOWS_BUILD_DIR/sample (default build/x86_64).
# The native publisher is build/native/mirevale-publish (built here when needed) unless MIREVALE_PUBLISH
# names another. Further arguments go to the publisher, e.g. --set ICON=/elsewhere/favicon.ico.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
if [ $# -lt 1 ] || [ "${1#-}" != "$1" ]; then
  echo "usage: $0 OUTPUT_FOLDER [WINDOWS_BUILD_DIR] [--set NAME=VALUE]..." >&2
  exit 2
fi
out=$1; shift
build=$top/build/x86_64
if [ $# -gt 0 ] && [ "${1#-}" = "$1" ]; then build=$1; shift; fi

publisher=${MIREVALE_PUBLISH:-}
if [ -z "$publisher" ]; then
  if [ ! -f "$top/build/native/CMakeCache.txt" ]; then
    cmake -S "$top/tools/publish" -B "$top/build/native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  cmake --build "$top/build/native" --target mirevale-publish -j "$(nproc)" >/dev/null
  publisher=$top/build/native/mirevale-publish
fi

bin=$build/sample
for program in iQorRemote.exe UnInstall.exe; do
  if [ ! -f "$bin/$program" ]; then
    echo "publish-sample: $bin/$program is missing; build $build first" >&2
    exit 1
  fi
done
# Git keeps no write bits: the sample's read-only file is made so here, and the publisher marks it
# read-only in its package, as it does for any file of mode 0444.
chmod a-w "$top/sample/core/docs/readonly.txt"
exec "$publisher" --keep-read-only --set "BIN=$(cd "$bin" && pwd)" "$@" "$top/sample/release.txt" "$out"
