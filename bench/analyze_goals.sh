#!/usr/bin/env bash
# analyze_goals.sh - times pravlin-analyze on the large chains R, B and A of make_chain.py.
#
#   bench/analyze_goals.sh [BUILD_DIR]     (default build/release)
#
# Writes each chain into bench/out/ once (the 10^6-state files take a minute and 300-450 MB each),
# then runs the analysis once per chain and prints seconds, peak resident memory and the
# residual line(s). The goals: R 10^5 <= 3 s and 1 GB, R 10^6 <= 30 s and 4 GB, B 10^6 <= 30 s,
# A 10^5 <= 5 s; residuals <= 1e-12 (R), 1e-10 (A).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
out=bench/out
mkdir -p "$out"
for chain in R:100000 R:1000000 B:1000000 A:100000; do
  kind=${chain%%:*}
  n=${chain##*:}
  file=$out/chain-$kind-$n.xml
  [ -f "$file" ] || python3 bench/make_chain.py "$kind" "$n" "$file"
  /usr/bin/time -f "$kind $n: %e s, %M KB" "$build/pravlin-analyze" "$file" >"$out/chain-$kind-$n.out" \
    2>"$out/chain-$kind-$n.err" || true
  tail -n 1 "$out/chain-$kind-$n.err"
  grep 'residual\|ERROR' "$out/chain-$kind-$n.out" "$out/chain-$kind-$n.err" || true
done
