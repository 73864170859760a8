#!/usr/bin/env bash
# scale.sh - runs of any length: W4 (bench/make_model.py) in one run, then as four slices
# through GNU parallel and pravlin-merge (contrib/pravlin-parallel), each piped to a checksum;
# with --w5 also W5 (ten times the chains) in one run to /dev/null. Prints wall and CPU time,
# peak memory of pravlin and the checksums, which must agree. Never run by ctest.
# Usage: bench/scale.sh [--w5]   (from the source folder, after a release build)
set -euo pipefail
build=${BUILD:-$PWD/build/release}
out=${OUT:-$PWD/bench/out}
[ -f "$out/w4.xml" ] || python3 bench/make_model.py "$out" w4
cd "$out"

# run NAME COMMAND...: the wall time of the command and the checksum it is piped to, the CPU
# time of the command and its children (slices, merge, parallel), and the checksum.
run() {
  local name=$1
  shift
  /usr/bin/time -f "%e %U %S" -o "$name.time" bash -c '"$@" 2>/dev/null | cksum >"'"$name"'.sum"' - "$@"
  read -r wall user sys <"$name.time"
  printf '%-12s %7.2f s wall %6.2f s user %5.2f s sys  cksum %s\n' "$name" "$wall" "$user" "$sys" \
    "$(cut -d' ' -f1-2 "$name.sum")"
}

/usr/bin/time -f "w4 to /dev/null %e s wall, %U s user, %S s sys, peak %M KiB" -o w4.mem \
  "$build/pravlin" w4.xml >/dev/null 2>&1
cat w4.mem
run w4 "$build/pravlin" w4.xml
run w4-4-slices env PRAVLIN="$build/pravlin" PRAVLIN_MERGE="$build/pravlin-merge" \
  sh "$OLDPWD/contrib/pravlin-parallel" 100000 4 w4.xml -j 2
cmp -s w4.sum w4-4-slices.sum && echo "checksums agree" || { echo "checksums differ"; exit 1; }
if [ "${1:-}" = --w5 ]; then
  [ -f w5.xml ] || python3 "$OLDPWD/bench/make_model.py" "$out" w5
  /usr/bin/time -f "w5 to /dev/null %e s wall, %U s user, %S s sys, peak %M KiB" "$build/pravlin" w5.xml 2>&1 >/dev/null | grep -v WARNING
fi
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
