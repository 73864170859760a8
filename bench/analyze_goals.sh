#!/usr/bin/env bash
# analyze_goals.sh - checks every goal of pravlin-analyze in one run: the time, memory and
# accuracy of the large chains R, B and A of make_chain.py, then the analyses' goals
# (bench/analyze_analyses.sh) and the spectral ones (bench/eigen_goals.sh), each of which
# stays callable alone.
#
#   bench/analyze_goals.sh [BUILD_DIR] [KIND:STATES[:TARGET] ...]   (default build/release, all)
#
# Every goal's line ends in "pass" or "FAIL"; a time goal's line gives the load average beside
# its figures, since the machine may be shared. Indented lines are details. With chains named,
# only those are run, without the other two scripts.
#
# Writes each chain into bench/out/ once (the 10^6-state files take a minute and 300-450 MB each;
# delete them when done), then runs the text analysis once per chain for its wall and user
# seconds and peak memory, and the JSON analysis through bench/check_goals.py for its accuracy.
# The goals: R 10^5 <= 3 s and 1 GiB, R 10^6 <= 5 s and 800 MiB, B 10^6 <= 30 s, A 10^5 <= 5 s
# (wall, the text report written to a pipe and the reader's warnings to a file); residuals
# <= 1e-12 (R), 1e-10 (A); B within relative 1e-8 of its closed form. With a TARGET, the analysis
# runs with --target TARGET and its hitting section is checked too (bench/check_goals.py says
# how): by default state 1 of R and B and the last, absorbing, state of A, at 10^5 states.
# With R 10^6 among the chains, the time of one product of its stationary solve, on one core and
# on two, is set beside scipy's on the same chain, with the products each solve takes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
shift || true
chains=("$@")
all=0
if [ ${#chains[@]} -eq 0 ]; then
  all=1
  chains=(R:100000 R:1000000 B:1000000 A:100000 R:100000:1 B:100000:1 A:100000:100000)
fi
out=bench/out
mkdir -p "$out"
began=$(date +%s)
load() { cut -d' ' -f1 /proc/loadavg; }
echo "  load average: $(cut -d' ' -f1-3 /proc/loadavg)"

# The wall-time goal (s) and peak-memory goal (MiB, - for none) of a plain run, if any.
goal() {
  case "$1" in
    R:100000) echo "3 1024" ;;
    R:1000000) echo "5 800" ;;
    B:1000000) echo "30 -" ;;
    A:100000) echo "5 -" ;;
  esac
}
# Succeeds when the number $1 is at most $2 ("-": no bound).
within() { [ "$2" = - ] || awk -v a="$1" -v b="$2" 'BEGIN { exit !(a != "" && a + 0 <= b + 0) }'; }
# The sub-scripts' "pass: what" lines as "what: pass"; their other lines as details.
verdict_last() { sed -E 's/^(pass|FAIL): (.*)$/\2: \1/; t; s/^ */  /'; }

for chain in "${chains[@]}"; do
  IFS=: read -r kind n target <<<"$chain"
  options=()
  [ -z "$target" ] || options=(--target "$target")
  file=$out/chain-$kind-$n.xml
  [ -f "$file" ] || python3 bench/make_chain.py "$kind" "$n" "$file"
  label="$kind $n${target:+ --target $target}"
  # The report is a million lines at 10^6 states: counted, not kept. The reader's warnings go
  # to a file, as they always have in these figures, up to 1 GiB.
  (
    ulimit -f 1048576
    /usr/bin/time -f "%e %U %M" -o "$out/time" \
      "$build/pravlin-analyze" "$file" "${options[@]}" 2>"$out/err" | grep 'residual' | sed 's/^ */  /' || true
  )
  grep 'ERROR' "$out/err" | sed 's/^ */  /' || true
  read -r wall user peak <"$out/time"
  mib=$((peak / 1024))
  figures="$label: $wall s wall, $user s user, $mib MiB peak, load $(load)"
  read -r most_s most_mib <<<"$(goal "$chain")"
  if [ -n "$target" ] || [ -z "${most_s:-}" ]; then
    echo "  $figures (no time goal)"
  else
    wanted="goal $most_s s"
    [ "$most_mib" = - ] || wanted+=" and $most_mib MiB"
    ok=FAIL
    within "$wall" "$most_s" && within "$mib" "$most_mib" && ok=pass
    echo "$figures; $wanted: $ok"
  fi
  accuracy=$("$build/pravlin-analyze" "$file" "${options[@]}" --json 2>/dev/null |
    python3 bench/check_goals.py "$kind" "$file" || true)
  case "$accuracy" in
    pass:* | FAIL:*) echo "$label accuracy: ${accuracy#*: }: ${accuracy%%:*}" ;;
    *) echo "$label accuracy: no verdict (${accuracy:-no output}): FAIL" ;;
  esac
done

# The products of the stationary solve on R at 10^6 beside scipy's on the same chain, built in
# scipy by bench/scipy_products.py (python3-scipy): one product on one core and on two, against
# the faster of scipy's two forms of P.T @ x (one core), and the products each solve takes. Goals: one
# core at most 1.0 times scipy's time, two at most 0.6 times.
if [[ " ${chains[*]} " == *" R:1000000 "* ]]; then
  cmake --build "$build" --target row_product_time >/dev/null
  "$build/row_product_time" "$out/chain-R-1000000.xml" 2>/dev/null >"$out/products"
  read -r residual < <(sed -n 's/^solve: .* residual \([^ ]*\) .*/\1/p' "$out/products")
  /usr/bin/python3 bench/scipy_products.py 1000000 "$residual" >"$out/scipy-products"
  sed 's/^/  pravlin /' "$out/products"
  sed 's/^/  /' "$out/scipy-products"
  ours1=$(sed -n 's/^product on 1 core .*: \([0-9.]*\) ms$/\1/p' "$out/products")
  ours2=$(sed -n 's/^product on 2 cores .*: \([0-9.]*\) ms$/\1/p' "$out/products")
  theirs=$(sed -n 's/^scipy .* @ x: \([0-9.]*\) ms$/\1/p' "$out/scipy-products" | sort -g | head -1)
  awk -v a="$ours1" -v b="${ours2:-$ours1}" -v s="$theirs" -v l="$(load)" 'BEGIN {
    ok = (a <= 1.0 * s && b <= 0.6 * s) ? "pass" : "FAIL"
    printf "R 1000000 product: %.2f ms on 1 core, %.2f on 2, scipy %.2f: %.2fx and %.2fx, load %s; goal 1.0x and 0.6x: %s\n", a, b, s, a / s, b / s, l, ok
  }'
fi

if [ "$all" = 1 ]; then
  bench/analyze_analyses.sh "$build" | verdict_last
  bench/eigen_goals.sh "$build" | verdict_last
fi
echo "  load average: $(cut -d' ' -f1-3 /proc/loadavg); all this took $(($(date +%s) - began)) s"
