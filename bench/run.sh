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
# apart from the header's time line. Then W2 again with each squaring kernel this processor runs
# (PRAVLIN_KERNEL=avx512, avx2, sse2, plain), against the same base figure. Workloads and builds
# go to bench/out/ (not committed).
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
  cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRAVLIN_TESTS=OFF \
    ${CCACHE_DIR:+-DCMAKE_CXX_COMPILER_LAUNCHER=ccache} >/dev/null
  cmake --build "$dir" --target pravlin >/dev/null
}

echo "building $base and $new ..." >&2
build "$base" "$out/build-base-$base"
build "$new" "$out/build-new"
[ -f "$out/w3.xml" ] || python3 bench/make_model.py "$out"

# best of 3: prints "seconds peak_kib" and leaves the report as $3; KERNEL, when set, is passed
# on as PRAVLIN_KERNEL
run() {  # run BINARY WORKLOAD REPORT_COPY
  local bin=$1 w=$2 copy=$3 best="" mem=""
  for _ in 1 2 3; do
    (cd "$out" && rm -f "$w.csv" &&
      /usr/bin/time -f "%e %M" -o "$w.time" env ${KERNEL:+PRAVLIN_KERNEL=$KERNEL} "$bin" "$w.xml" \
        >"$w.stdout" 2>/dev/null)
    read -r s m <"$out/$w.time"
    if [ -z "$best" ] || awk "BEGIN{exit !($s < $best)}"; then best=$s; mem=$m; fi
  done
  sed -E 's/^time , [A-Z][a-z]{2} .*$/time , <TIME>/' "$out/$w.csv" >"$copy"
  echo "$best $mem"
}

row() {  # row NAME BASE_S NEW_S BASE_KIB NEW_KIB BASE_REPORT NEW_REPORT
  local same=differ
  cmp -s "$6" "$7" && same=identical
  awk -v w="$1" -v bs="$2" -v ns="$3" -v bm="$4" -v nm="$5" -v same="$same" 'BEGIN {
    printf "%-9s %10.2f %10.2f %10.0f %10.0f %7.1fx  %s\n", w, bs, ns, bm / 1024, nm / 1024,
           (ns > 0 ? bs / ns : 0), same }'
}

printf '%-9s %10s %10s %10s %10s %8s  %s\n' workload base_s new_s base_MiB new_MiB speedup reports
for w in w1 w2 w3; do
  read -r bs bm < <(run "$PWD/$out/build-base-$base/pravlin" "$w" "$out/$w.base.csv")
  read -r ns nm < <(run "$PWD/$out/build-new/pravlin" "$w" "$out/$w.new.csv")
  row "$w" "$bs" "$ns" "$bm" "$nm" "$out/$w.base.csv" "$out/$w.new.csv"
  [ "$w" = w2 ] && w2_base="$bs $bm"
done
# W2 by each kernel, where the processor has its instructions (the program refuses the others).
cpu_flags=$(grep -m1 '^flags' /proc/cpuinfo | cut -d: -f2)
for kernel in avx512 avx2 sse2 plain; do
  case $kernel in avx512) flag=avx512f ;; plain) flag= ;; *) flag=$kernel ;; esac
  if [ -n "$flag" ] && ! grep -qw "$flag" <<<"$cpu_flags"; then
    printf '%-9s  not on this processor\n' "w2/$kernel"
    continue
  fi
  read -r bs bm <<<"$w2_base"
  read -r ns nm < <(KERNEL=$kernel run "$PWD/$out/build-new/pravlin" w2 "$out/w2.$kernel.csv")
  row "w2/$kernel" "$bs" "$ns" "$bm" "$nm" "$out/w2.base.csv" "$out/w2.$kernel.csv"
done
flags=$(tr ' ' '\n' <<<"$cpu_flags" | grep -xE 'avx512f|avx2|fma|sse2' | tr '\n' ' ')
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), flags ${flags% }, load $(cut -d' ' -f1-3 /proc/loadavg)"
