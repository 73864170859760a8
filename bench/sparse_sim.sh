#!/usr/bin/env bash
# sparse_sim.sh - times pravlin drawing 100 chains of 1000 years on chain R of make_chain.py at
# 10^6 states, with no steady state and no header: the run keeps sparse rows, not the 8 TB
# matrix. The goal: <= 5 s and <= 3 GB, most of it the reading of the file.
#
#   bench/sparse_sim.sh [BUILD_DIR] [--keep]     (default build/release)
#
# Writes the chain (about 450 MB, a minute) into bench/out/ and deletes it afterwards unless
# --keep is given. The report goes to a checksum and the row warnings to /dev/null; prints
# seconds, user CPU, peak resident memory, the checksum and the load average.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release
keep=0
for arg in "$@"; do
  case $arg in
    --keep) keep=1 ;;
    *) build=$arg ;;
  esac
done
out=bench/out
mkdir -p "$out"
file=$out/chain-R-1000000-sim.xml
[ -f "$file" ] || python3 bench/make_chain.py R 1000000 "$file" --chains 100 --years 1000
[ "$keep" = 1 ] || trap 'rm -f "$file"' EXIT
for run in 1 2 3; do
  sum=$(/usr/bin/time -o "$out/sparse_sim.time" -f "%e s wall, %U s user, %S s system, %M KB peak" \
    "$build/pravlin" "$file" 2>/dev/null | cksum)
  echo "run $run: $(cat "$out/sparse_sim.time"), report cksum $sum"
done
rm -f "$out/sparse_sim.time"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
