#!/usr/bin/env bash
# Builds both widths: build/i686 (the shipped MirevaleSetup.exe) and build/x86_64 (what the tests run).
# Extra arguments go to the configure step of both (for example -DMIREVALE_BASE_URL=...).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
for arch in i686 x86_64; do
  cmake -S "$top" -B "$top/build/$arch" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchain-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DMIREVALE_TESTS=ON "$@" >/dev/null
  cmake --build "$top/build/$arch" -j "$(nproc)"
done
# The release publisher also runs on the build host: a native build with its own tests.
if [ -f "$top/tools/publish/CMakeLists.txt" ]; then
  cmake -S "$top/tools/publish" -B "$top/build/native" -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
  cmake --build "$top/build/native" -j "$(nproc)"
fi
