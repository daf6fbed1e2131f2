#!/usr/bin/env bash
# The one test command: installs what is missing, builds both widths, runs every test under Wine: the
# 64-bit build's (build/x86_64), then the shipped 32-bit build's in its emulated runtime (build/i686,
# tests named i686.*). MIREVALE_SKIP_I686=1 leaves the 32-bit part out of a quick local run, never in CI.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
"$top/scripts/build.sh"
"$top/tests/check-artefact.sh" "$top/build/i686/MirevaleSetup.exe"
"$top/tests/check-artefact.sh" "$top/build/i686/sample/UnInstall.exe"
i686=1
if [ -n "${MIREVALE_SKIP_I686:-}" ]; then
  if [ -n "${CI:-}" ]; then
    echo "test: MIREVALE_SKIP_I686 is for local runs; CI runs the 32-bit tests all the same"
  else
    echo "test: MIREVALE_SKIP_I686 is set: the shipped 32-bit build is NOT tested in this run"
    i686=0
  fi
fi
# Made before any test runs, so that a runtime that cannot be made (no space, no mirror) fails at once.
[ $i686 -eq 0 ] || "$top/scripts/setup-i686-runtime.sh"
if [ -f "$top/build/native/CTestTestfile.cmake" ]; then
  (cd "$top/build/native" && ctest --output-on-failure)
fi
. "$top/scripts/xvfb.sh"
# Every test works in a copy of a template prefix; the templates themselves must come out of the run as
# they went in, or a test would depend on what an earlier one left there.
templates=("$top/build/x86_64/wineprefix")
"$top/tests/wine-prefix.sh" "${templates[0]}"
if [ $i686 -eq 1 ]; then
  templates+=("$top/build/i686-runtime/prefix")
  MIREVALE_WIDTH=i686 "$top/tests/wine-prefix.sh" "${templates[1]}"
fi
listing() { for p in "${templates[@]}"; do find "$p" "$p.home" -printf '%p\t%y\t%s\t%m\t%T@\t%l\n'; done | LC_ALL=C sort; }
listing >"$top/build/templates-before.txt"
status=0
(cd "$top/build/x86_64" && ctest --output-on-failure "$@") || status=$?
if [ $i686 -eq 1 ]; then
  # A 32-bit tree configured without its tests must fail the run, not pass it with nothing tested.
  count=$(cd "$top/build/i686" && ctest -N | sed -n 's/^Total Tests: *//p')
  if [ "${count:-0}" -eq 0 ]; then
    echo "test: build/i686 holds no tests; configure it with -DMIREVALE_TESTS=ON (scripts/build.sh does)" >&2
    status=1
  fi
  (cd "$top/build/i686" && ctest --output-on-failure "$@") || status=$?
fi
listing >"$top/build/templates-after.txt"
if ! diff "$top/build/templates-before.txt" "$top/build/templates-after.txt" >"$top/build/templates-diff.txt"; then
  echo "test: the tests changed a template prefix (build/templates-diff.txt):" >&2
  head -n 20 "$top/build/templates-diff.txt" >&2
  status=1
fi
exit $status
