#!/usr/bin/env bash
# run.sh - builds pravlin at two revisions and runs the three workloads with both, side by side.
#
#   bench/run.sh [BASE [NEW]]
#
# BASE is a git revision, or "literal" (the default): 03ad722, the last commit before the fast
# paths, with literal-product.patch applied, since that commit already formed the product row
# by row; the patch puts back the literal order (each entry summed over i in turn, b read down
# its columns), so that the base is the literal build throughout. NEW is a revision or
# "worktree" (default: the working tree). Each workload runs best of 3 with each build; the table
# gives seconds, peak resident memory, the speed-up and whether the two reports are the same
# apart from the header's time line. Workloads and builds go to bench/out/ (not committed).
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:-literal}
new=${2:-worktree}
out=bench/out
mkdir -p "$out"

build() {  # build REV DIR: a release build of pravlin at REV into DIR
  local rev=$1 dir=$2 src
  if [ "$rev" = worktree ]; then
    src=$PWD
  elif [ "$rev" = literal ]; then
    src=$out/src-literal
    if [ ! -d "$src" ]; then
      git worktree add -f --detach "$src" 03ad722 >/dev/null 2>&1
      git -C "$src" apply "$PWD/bench/literal-product.patch"
    fi
  else
    src=$out/src-$rev
    [ -d "$src" ] || git worktree add -f --detach "$src" "$rev" >/dev/null 2>&1
  fi
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRAVLIN_TESTS=OFF >/dev/null
  cmake --build "$dir" --target pravlin >/dev/null
}

echo "building $base and $new ..." >&2
build "$base" "$out/build-base-$base"
build "$new" "$out/build-new"
[ -f "$out/w3.xml" ] || python3 bench/make_model.py "$out"

# best of 3: prints "seconds peak_kib" and leaves the report as $3
run() {  # run BINARY WORKLOAD REPORT_COPY
  local bin=$1 w=$2 copy=$3 best="" mem=""
  for _ in 1 2 3; do
    (cd "$out" && rm -f "$w.csv" && /usr/bin/time -f "%e %M" -o "$w.time" "$bin" "$w.xml" >"$w.stdout" 2>/dev/null)
    read -r s m <"$out/$w.time"
    if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; mem=$m; fi
  done
  sed -E 's/^time , [A-Z][a-z]{2} .*$/time , <TIME>/' "$out/$w.csv" >"$copy"
  echo "$best $mem"
}

printf '%-4s %10s %10s %10s %10s %8s  %s\n' workload base_s new_s base_MiB new_MiB speedup reports
for w in w1 w2 w3; do
  read -r bs bm < <(run "$PWD/$out/build-base-$base/pravlin" "$w" "$out/$w.base.csv")
  read -r ns nm < <(run "$PWD/$out/build-new/pravlin" "$w" "$out/$w.new.csv")
  same=differ
  cmp -s "$out/$w.base.csv" "$out/$w.new.csv" && same=identical
  awk -v w="$w" -v bs="$bs" -v ns="$ns" -v bm="$bm" -v nm="$nm" -v same="$same" 'BEGIN {
    printf "%-4s %10.2f %10.2f %10.0f %10.0f %7.1fx  %s\n", w, bs, ns, bm / 1024, nm / 1024,
           (ns > 0 ? bs / ns : 0), same }'
done
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load $(cut -d' ' -f1-3 /proc/loadavg)"
