#!/usr/bin/env bash
# bench/run.sh [--reps N] [--install-reps N] [--crc-reps N] [--signed-reps N] [--seed N] [--no-extras] [--no-results]
# Install throughput and memory of the installer under Wine against curl, Info-ZIP unzip and zlib CRC-32,
# and the cost of a signed release, on one machine in one run: publishes and signs a generated release
# (about 300 MiB, 20 packages) into build/bench,
# serves it with nginx on loopback, times the complete installation through the window and each stage
# alone, prints the table with the ratios and writes it to bench/RESULTS.md. About 5 minutes on two cores,
# of which about 70 s go to the download without the reservation and the zero-fill comparison (--no-extras).
# Needs scripts/build.sh to have been run once (the test build and the native publisher); the benchmark
# programs are (re)built here. bench/zip_memory.sh still gives the extraction working-set test alone.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
for tool in curl unzip nginx xdotool Xvfb wine; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -f "$top/build/x86_64/CMakeCache.txt" ] && [ -x "$top/build/native/mirevale-publish" ] &&
  [ -f "$top/build/x86_64/sample/iQorRemote.exe" ] && [ -f "$top/build/x86_64/sample/UnInstall.exe" ] ||
  { echo "bench: run scripts/build.sh first" >&2; exit 1; }
# The benchmark programs' build rules appear once the test build has been configured with bench/ hooked in.
[ -f "$top/build/x86_64/bench/Makefile" ] || cmake -S "$top" -B "$top/build/x86_64" >/dev/null
cmake --build "$top/build/x86_64" --target mirevale_bench bench_installer -j "$(nproc)" >/dev/null
cmake --build "$top/build/native" --target mirevale-publish -j "$(nproc)" >/dev/null
. "$top/scripts/xvfb.sh"
PYTHONPATH=$top/tools${PYTHONPATH:+:$PYTHONPATH} python3 "$top/bench/bench.py" "$@"
