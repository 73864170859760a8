#!/usr/bin/env bash
# analyze_goals.sh - times pravlin-analyze on the large chains R, B and A of make_chain.py and
# checks each against its accuracy goal.
#
#   bench/analyze_goals.sh [BUILD_DIR] [KIND:STATES ...]   (default build/release, all four)
#
# Writes each chain into bench/out/ once (the 10^6-state files take a minute and 300-450 MB each;
# delete them when done), then runs the text analysis once per chain for its wall and user
# seconds and peak memory, and the JSON analysis through bench/check_goals.py for its accuracy:
# "pass" or "FAIL" on each line. The goals: R 10^5 <= 3 s and 1 GB, R 10^6 <= 30 s and 4 GB,
# B 10^6 <= 30 s, A 10^5 <= 5 s; residuals <= 1e-12 (R), 1e-10 (A); B within relative 1e-8 of
# its closed form.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
chains=("$@")
[ ${#chains[@]} -gt 0 ] || chains=(R:100000 R:1000000 B:1000000 A:100000)
out=bench/out
mkdir -p "$out"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for chain in "${chains[@]}"; do
  kind=${chain%%:*}
  n=${chain##*:}
  file=$out/chain-$kind-$n.xml
  [ -f "$file" ] || python3 bench/make_chain.py "$kind" "$n" "$file"
  # The report is a million lines at 10^6 states: counted, not kept.
  /usr/bin/time -f "$kind $n: %e s wall, %U s user, %S s sys, %M KiB peak" -o "$out/time" \
    "$build/pravlin-analyze" "$file" 2>"$out/err" | grep 'residual' || true
  grep 'ERROR' "$out/err" || true
  cat "$out/time"
  "$build/pravlin-analyze" "$file" --json 2>/dev/null | python3 bench/check_goals.py "$kind" "$file" ||
    true
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
