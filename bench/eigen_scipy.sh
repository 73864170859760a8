#!/usr/bin/env bash
# eigen_scipy.sh - pravlin-analyze's --eigen 6 beside scipy's eigs (ARPACK, k = 6, the same
# tolerance 1e-10) on the same matrices, in the same run:
#   Tauchen's AR(1) chain of bench/make_tauchen.py (2000 states, 7.6 10^5 transitions, one
#     class, not reversible);
#   R of bench/make_chain.py at 10^4 and 10^5 states (random sparse classes).
# The goal for each: the spectrum within 1.5 times scipy's time, the same eigenvalues to 1e-12.
#
#   bench/eigen_scipy.sh [BUILD_DIR]     (default build/release; EIGS_LIMIT, default 180, the
#                                         seconds scipy may take before it is stopped)
#
# pravlin's time is the spectrum alone, as bench/analyze_stages --eigen 6 times the call that
# pravlin-analyze --eigen 6 makes (the same eigenvalues); scipy's is eigs alone, on the matrix as
# pravlin-analyze reads it (bench/eigen_check.py eigs). Both in wall and processor seconds. A
# scipy stopped at the limit leaves pravlin's eigenvalues to the ARPACK reference kept for R at
# 10^5 (bench/arpack-R-100000.json, when the chain is the one it was made from). Prints one
# "pass"/"FAIL" line per chain for the time and for the values, with the load beside it.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
limit=${EIGS_LIMIT:-180}
py=/usr/bin/python3
out=bench/out
mkdir -p "$out"
cmake --build "$build" --target analyze_stages >/dev/null
echo "commit $(git rev-parse --short HEAD); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')," \
  "flags: $(grep -m1 '^flags' /proc/cpuinfo | grep -ow -e avx512f -e avx2 | tr '\n' ' ')"

[ -f "$out/tauchen-2000.xml" ] || $py bench/make_tauchen.py 2000 "$out/tauchen-2000.xml" >/dev/null
for n in 10000 100000; do
  [ -f "$out/chain-R-$n.xml" ] || python3 bench/make_chain.py R "$n" "$out/chain-R-$n.xml"
done

failed=0
for chain in tauchen-2000 chain-R-10000 chain-R-100000; do
  file=$out/$chain.xml
  echo "== $chain (load $(cut -d' ' -f1-3 /proc/loadavg))"
  "$build/analyze_stages" "$file" --eigen 6 >"$out/$chain.stages" 2>/dev/null
  rm -f "$out/$chain.eigs.json"
  timeout "$limit" $py bench/eigen_check.py eigs "$file" 6 1e-10 "$out/$chain.eigs.json" || true
  ref=
  if [ "$chain" = chain-R-100000 ] &&
    [ "$(md5sum <"$file" | cut -d' ' -f1)" = 2e85535973dddad06f4e186baceedf16 ]; then
    ref=bench/arpack-R-100000.json
  fi
  $py bench/eigen_check.py compare-eigs "$file" "$out/$chain.stages" "$out/$chain.eigs.json" "$limit" \
    $ref || failed=1
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
exit $failed
