#!/bin/sh
# slices.sh - slices of one run at every boundary, joined by pravlin-merge, and the GNU parallel
# recipe (contrib/pravlin-parallel), give the whole run's report byte for byte.
# Usage: slices.sh PRAVLIN PRAVLIN_MERGE SOURCE_DIR WORK_DIR
# Part of pravlin; see README.md.
set -eu
pravlin=$1 merge=$2 src=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# A header, names with a comma and with a line break, seven chains.
cat >model.xml <<'XML'
<pravlin>
  <nbr_states>3</nbr_states><init_year>2025</init_year><nbr_years>12</nbr_years>
  <nbr_chains>7</nbr_chains><print_flag>name</print_flag><print_header>yes</print_header>
  <state><ser>1</ser><name>dry, warm</name><initial_probability>0.5</initial_probability></state>
  <state><ser>2</ser><name>wet
cold</name><initial_probability>0.5</initial_probability></state>
  <state><ser>3</ser><name>fog</name></state>
  <transition><from>1</from><to><state>1</state><probability>0.5</probability></to>
    <to><state>2</state><probability>0.25</probability></to>
    <to><state>3</state><probability>0.25</probability></to></transition>
  <transition><from>2</from><to><state>1</state><probability>0.5</probability></to>
    <to><state>2</state><probability>0.5</probability></to></transition>
  <transition><from>3</from><to><state>2</state><probability>1</probability></to></transition>
</pravlin>
XML
mask() {
  sed 's/^time , [A-Z][a-z][a-z] .*$/time , <TIME>/'
}
"$pravlin" model.xml | mask >whole

for slices in "1-7" "1-1 2-7" "1-6 7-7" "1-3 4-4 5-7" "1-1 2-2 3-3 4-4 5-5 6-6 7-7"; do
  set --
  for range in $slices; do
    "$pravlin" --chains "$range" model.xml >"slice.$range"
    set -- "$@" "slice.$range"
  done
  "$merge" "$@" | mask >merged
  if ! cmp -s whole merged; then
    echo "slices $slices: the merged report is not the whole run's"
    diff whole merged || true
    exit 1
  fi
done

# The recipe for one machine: three slices through GNU parallel, then the merge.
PRAVLIN=$pravlin PRAVLIN_MERGE=$merge sh "$src/contrib/pravlin-parallel" 7 3 model.xml -j 2 |
  mask >parallel
if ! cmp -s whole parallel; then
  echo "pravlin-parallel: the report is not the whole run's"
  diff whole parallel || true
  exit 1
fi

# Slices out of order, or not starting at chain 1, are refused.
check_refused() {  # check_refused MESSAGE SLICE...
  want=$1
  shift
  if "$merge" "$@" >/dev/null 2>err; then
    echo "pravlin-merge $*: accepted"
    exit 1
  fi
  if [ "$(cat err)" != "$want" ]; then
    echo "pravlin-merge $*: said \"$(cat err)\", not \"$want\""
    exit 1
  fi
}
check_refused " *** ERROR: (slice.2-7) starts at chain 2, not at chain 1" slice.2-7 slice.1-1
check_refused " *** ERROR: (slice.5-7) starts at chain 5, not at chain 2" slice.1-1 slice.5-7
check_refused " *** ERROR: (model.xml) holds no chain table" model.xml
echo "slices merge into the whole run"
