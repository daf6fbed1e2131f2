#!/usr/bin/env bash
# Extracts one 200 MiB deflated item under Wine and prints the working set sampled while it streams
# (the unit test asserts it stays within 32 MiB of where it started). Needs build/x86_64 built.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/scripts/xvfb.sh"
"$top/tests/wine-run.sh" "$top/build/x86_64/wineprefix" "$top/build/x86_64/tests/zip_tests.exe" \
    --gtest_filter='ZipRobustness.LargeItem*' | grep -E 'MiB item|OK \]|FAILED'
