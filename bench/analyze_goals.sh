#!/usr/bin/env bash
# analyze_goals.sh - times pravlin-analyze on the large chains R, B and A of make_chain.py and
# checks each against its accuracy goal.
#
#   bench/analyze_goals.sh [BUILD_DIR] [KIND:STATES[:TARGET] ...]   (default build/release, all)
#
# Writes each chain into bench/out/ once (the 10^6-state files take a minute and 300-450 MB each;
# delete them when done), then runs the text analysis once per chain for its wall and user
# seconds and peak memory, and the JSON analysis through bench/check_goals.py for its accuracy:
# "pass" or "FAIL" on each line. The goals: R 10^5 <= 3 s and 1 GB, R 10^6 <= 30 s and 4 GB,
# B 10^6 <= 30 s, A 10^5 <= 5 s; residuals <= 1e-12 (R), 1e-10 (A); B within relative 1e-8 of
# its closed form. With a TARGET, the analysis runs with --target TARGET and its hitting section
# is checked too (bench/check_goals.py says how): by default state 1 of R and B and the last,
# absorbing, state of A, at 10^5 states.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
chains=("$@")
[ ${#chains[@]} -gt 0 ] ||
  chains=(R:100000 R:1000000 B:1000000 A:100000 R:100000:1 B:100000:1 A:100000:100000)
out=bench/out
mkdir -p "$out"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for chain in "${chains[@]}"; do
  IFS=: read -r kind n target <<<"$chain"
  options=()
  [ -z "$target" ] || options=(--target "$target")
  file=$out/chain-$kind-$n.xml
  [ -f "$file" ] || python3 bench/make_chain.py "$kind" "$n" "$file"
  # The report is a million lines at 10^6 states: counted, not kept.
  label="$kind $n${target:+ --target $target}"
  /usr/bin/time -f "$label: %e s wall, %U s user, %S s sys, %M KiB peak" -o "$out/time" \
    "$build/pravlin-analyze" "$file" "${options[@]}" 2>"$out/err" | grep 'residual' || true
  grep 'ERROR' "$out/err" || true
  cat "$out/time"
  "$build/pravlin-analyze" "$file" "${options[@]}" --json 2>/dev/null |
    python3 bench/check_goals.py "$kind" "$file" || true
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
