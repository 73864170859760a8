#!/usr/bin/env bash
# analyze_analyses.sh - checks the goals of pravlin-analyze's entropy rate, reversibility,
# committor, first passage, rewards and lumping, beside analyze_goals.sh's for the structure.
#
#   bench/analyze_analyses.sh [BUILD_DIR]   (default build/release)
#
# Prints "pass" or "FAIL" for each goal:
#   - entropy rate and reversibility of R at 10^5 states (bench/make_chain.py) in under 0.5 s
#     beyond reading (bench/analyze_stages.cc times each analysis on its own);
#   - --lump coarsest on C at 10^6 states (a chain of 1000 states copied 1000 times) in 5 s or
#     less beyond reading, finding the copies of the small chain's states as its blocks;
#   - entropy rate, reversibility, committor, first passage, rewards and lumping agree with
#     numpy to 1e-9 on random chains of up to 500 states, slowly mixing ones among them
#     (bench/check_analyses.py; Debian's python3-numpy).
# The chains are written into bench/out/ once (C at 10^6 takes half a minute and 490 MB).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
cmake --build "$build" --target analyze_stages pravlin-analyze >/dev/null
out=bench/out
mkdir -p "$out"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# The seconds of a stage's line "<stage>: <seconds> s, ...".
seconds() { sed -n "s/^$1: \([0-9.]*\) s.*/\1/p" "$2"; }
load() { cut -d' ' -f1 /proc/loadavg; }
# pass when $1 <= $2.
verdict() { awk -v t="$1" -v most="$2" 'BEGIN { exit !(t != "" && t <= most) }' && echo pass || echo FAIL; }

r=$out/chain-R-100000.xml
[ -f "$r" ] || python3 bench/make_chain.py R 100000 "$r"
"$build/analyze_stages" "$r" >"$out/stages-R" 2>/dev/null
sed 's/^/  /' "$out/stages-R"
t=$(seconds "entropy rate and reversibility" "$out/stages-R")
echo "$(verdict "$t" 0.5): entropy rate and reversibility of R at 10^5 states in $t s (goal 0.5 s; load $(load))"

c=$out/chain-C-1000000.xml
[ -f "$c" ] || python3 bench/make_chain.py C 1000000 "$c"
"$build/analyze_stages" "$c" --lump coarsest --copies 1000 >"$out/stages-C" 2>/dev/null
sed 's/^/  /' "$out/stages-C"
t=$(seconds "lump coarsest" "$out/stages-C")
echo "$(verdict "$t" 5): --lump coarsest on C at 10^6 states in $t s (goal 5 s; load $(load))"
if grep -q "small states: yes" "$out/stages-C"; then
  echo "pass: --lump coarsest finds the small chain's 1000 blocks in its 1000 copies"
else
  echo "FAIL: --lump coarsest does not find the small chain's 1000 blocks in its 1000 copies"
fi

py=python3
$py -c "import numpy" 2>/dev/null || py=/usr/bin/python3
$py bench/check_analyses.py "$build/pravlin-analyze" || true
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
