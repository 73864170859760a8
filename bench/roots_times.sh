#!/usr/bin/env bash
# roots_times.sh - times pravlin-analyze --root 12 and --power 12 on banded chains (0.9 on the
# diagonal, 0.025 to each of four neighbours, rows rescaled at the ends), the chains whose
# logarithm the limit of 1000 states was set by.
#
#   bench/roots_times.sh [BUILD_DIR] [STATES...]   (default build/release, 300 1000)
#
# Prints the load, then per chain and conversion the wall and CPU seconds and the peak memory.
# The chains are written into bench/out/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
sizes=${*:-300 1000}
cmake --build "$build" --target pravlin-analyze >/dev/null
out=bench/out
mkdir -p "$out"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for n in $sizes; do
  file=$out/banded$n.xml
  awk -v n="$n" 'BEGIN {
    printf "<pravlin><nbr_states>%d</nbr_states>\n", n
    for (i = 1; i <= n; i++)
      printf "<state><ser>%d</ser><name>s%d</name><initial_probability>%d</initial_probability></state>\n", i, i, i == 1
    for (i = 1; i <= n; i++) {
      printf "<transition><from>%d</from>", i
      for (j = i - 2; j <= i + 2; j++) {
        if (j < 1 || j > n) continue
        printf "<to><state>%d</state><probability>%s</probability></to>", j, j == i ? "0.9" : "0.025"
      }
      print "</transition>"
    }
    print "</pravlin>"
  }' >"$file"
  for conversion in "--root 12" "--power 12"; do
    /usr/bin/time -f "$n states, $conversion: %e s wall, %U s CPU, %M KB" \
      "$build/pravlin-analyze" "$file" $conversion --only conversion --per-state-max 0 \
      2>&1 >/dev/null | grep -v 'WARNING'
  done
done
