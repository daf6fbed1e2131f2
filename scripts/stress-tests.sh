#!/usr/bin/env bash
# stress-tests.sh [N]: runs the test command (scripts/test.sh) N times, 3 unless given, while a busy loop
# holds one core, as on a machine that is busy with other work; then prints how long each run took and
# how often each test passed. The runs' output goes to build/stress/. Not part of CI.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-3}
out=$top/build/stress
rm -rf "$out" && mkdir -p "$out"

bash -c 'while :; do :; done' &
busy=$!
trap 'kill $busy 2>/dev/null' EXIT
trap 'exit 130' INT TERM

for i in $(seq "$runs"); do
  start=$(date +%s)
  env -u DISPLAY CI="${CI:-true}" "$top/scripts/test.sh" >"$out/run$i.txt" 2>&1
  rc=$?
  echo "run $i: exit $rc after $(( $(date +%s) - start )) s, load average $(cut -d' ' -f1-3 /proc/loadavg)"
done

echo "passes per test, of $runs runs (tree/test):"
# The same name may stand in two trees (config.base_url): each test is counted in its tree.
awk '/^Test project /{ n = split($3, part, "/"); tree = part[n]; next }
     / Test +#[0-9]+: / { seen[tree "/" $4]++; if ($0 ~ / Passed /) passed[tree "/" $4]++ }
     END { for (t in seen) printf "  %-40s %d of %d%s\n", t, passed[t], runs, passed[t] < runs ? "   <--" : "" }' \
    runs="$runs" "$out"/run*.txt | sort
