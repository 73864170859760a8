#!/bin/sh
# compile_times.sh - the compiler's CPU seconds and peak memory for each file of a release
# build, without ccache, in a build directory of its own: what the build costs, file by file.
#
#   bench/compile_times.sh BUILD_DIR [TARGET...]    (default: every target; then sorted table)
#
# CPU time (user + system, from /usr/bin/time) is what a file costs whatever else runs; wall
# time on a shared machine is not, so the load at each file's start is logged beside it. Run as
# the launcher (--launch LOG COMPILER ARGS...), it times one compile and appends
# "cpu_s rss_MiB load file" to LOG.
# Part of pravlin; see README.md.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1-}" = --launch ]; then
  log=$2
  shift 2
  src= prev=
  for a in "$@"; do
    [ "$prev" = -c ] && src=$a
    prev=$a
  done
  load=$(cut -d' ' -f1 /proc/loadavg)
  status=0
  /usr/bin/time -f "%U %S %M" -o "$log.$$" "$@" || status=$?
  read -r user sys rss <"$log.$$"
  rm -f "$log.$$"
  echo "$user $sys $rss $load ${src#"$top"/}" |
    awk '{ printf "%7.1f %7d %6s %s\n", $1 + $2, $3 / 1024, $4, $5 }' >>"$log"
  exit "$status"
fi
[ $# -ge 1 ] || { echo "Usage: bench/compile_times.sh BUILD_DIR [TARGET...]" >&2; exit 2; }
build=$1
shift
mkdir -p "$build"
log=$(cd "$build" && pwd)/compile-times.log
rm -f "$log"
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRAVLIN_TESTS=ON \
  "-DCMAKE_CXX_COMPILER_LAUNCHER=$top/bench/compile_times.sh;--launch;$log" >/dev/null
cmake --build "$build" --target clean >/dev/null
CCACHE_DISABLE=1 cmake --build "$build" -j 2 ${1+--target "$@"} >/dev/null
echo "  cpu_s rss_MiB   load file   ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2-))"
sort -rn "$log"
awk '{ cpu += $1 } END { printf "%7.1f CPU seconds in all, %d files\n", cpu, NR }' "$log"
