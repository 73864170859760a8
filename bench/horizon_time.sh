#!/usr/bin/env bash
# horizon_time.sh - the time --horizon T adds to pravlin-analyze on R of make_chain.py at 10^6
# states (one sparse product a step): the same run without and with --horizon, each twice.
#
#   bench/horizon_time.sh [BUILD_DIR] [STATES] [T]   (default build/release, 1000000, 100)
#
# Both runs print one short section (--only structure without the horizon, --only horizon with
# it: --only horizon alone is refused); everything else the analysis solves (classes, the
# stationary distribution) is in both.
# The goal: at most 2 s beyond the run without it, in CPU seconds (user + system). Writes the chain into bench/out/ once.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
n=${2:-1000000}
steps=${3:-100}
file=bench/out/chain-R-$n.xml
mkdir -p bench/out
[ -f "$file" ] || python3 bench/make_chain.py R "$n" "$file"
analyze=$build/pravlin-analyze
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
echo "flags: $(grep -m1 -o -w -e avx512f /proc/cpuinfo || echo 'no avx512f') $(grep -m1 -o -w -e avx2 /proc/cpuinfo || echo 'no avx2')"
echo "commit: $(git rev-parse --short HEAD)"
# "wall user+sys" seconds of one run, its text counted, not kept; the reader's warnings dropped.
# On a shared machine the CPU time says more than the wall time.
times() {
  /usr/bin/time -f '%e %U %S' -o bench/out/horizon-time.txt \
    "$analyze" "$file" "$@" 2>/dev/null | wc -c >/dev/null
  awk '{ printf "%.2f %.2f", $1, $2 + $3 }' bench/out/horizon-time.txt
}
for run in 1 2; do
  load=$(cut -d' ' -f1 /proc/loadavg)
  read -r base_wall base_cpu <<<"$(times --only structure)"
  read -r with_wall with_cpu <<<"$(times --only horizon --horizon "$steps")"
  extra=$(awk -v a="$base_cpu" -v b="$with_cpu" 'BEGIN { printf "%.2f", b - a }')
  verdict=$(awk -v e="$extra" 'BEGIN { print (e <= 2.0 ? "pass" : "FAIL") }')
  echo "run $run: R $n without --horizon ${base_wall} s wall ${base_cpu} s CPU; with --horizon $steps ${with_wall} s wall ${with_cpu} s CPU: ${extra} s CPU more (goal <= 2 s): $verdict (load $load, $(cut -d' ' -f1 /proc/loadavg) after)"
done
