#!/bin/sh
# slices.sh - slices of one run at every boundary, joined by pravlin-merge, give the whole run's
# report byte for byte; slices that cannot be proved whole are refused.
# Usage: slices.sh PRAVLIN PRAVLIN_MERGE WORK_DIR
# Part of pravlin; see README.md.
set -eu
pravlin=$1 merge=$2 work=$3
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

# Without a header or a count, the merge says that missing chains could not be seen; with one,
# it is silent.
sed 's,<print_header>yes,<print_header>no,' model.xml >noheader.xml
sed 's,<print_flag>name,<print_flag>val,' noheader.xml >val.xml
sed 's,<init_year>2025,<init_year>2000,' noheader.xml >other.xml
sed 's,<print_flag>name,<print_flag>val,' model.xml >hval.xml  # no line break inside a cell
for model in model noheader val other hval; do
  for range in 1-3 4-7; do
    "$pravlin" --chains "$range" $model.xml >"$model.$range"
  done
done
"$pravlin" noheader.xml >whole.noheader
for count in "" "--chains 7" "--config noheader.xml"; do
  # shellcheck disable=SC2086
  "$merge" $count noheader.1-3 noheader.4-7 >merged 2>err
  if ! cmp -s whole.noheader merged; then
    echo "pravlin-merge $count: the merged report is not the whole run's"
    exit 1
  fi
  want=""
  [ -n "$count" ] ||
    want=" *** WARNING: no header, --chains or --config states the run's chains: chains missing after chain 7 could not be seen"
  if [ "$(cat err)" != "$want" ]; then
    echo "pravlin-merge $count: said \"$(cat err)\", not \"$want\""
    exit 1
  fi
done

# Whatever cannot be proved whole is refused with one line and status 1: each line below is
# the message, then the command that must draw it.
head -c -2 noheader.4-7 >cut.4-7    # cut inside its last line
head -c -5 model.1-3 >cut.1-3
head -n -1 hval.1-3 >short.1-3      # cut at a line break
head -n -1 hval.4-7 >short.4-7
mkdir -p folder
printf 'time , 1 , 9223372036854775807 \n 2025 , 1 , 1 \n' >huge
printf 'time , 1 , 3 \n' >gap
# Slices of another configuration than the one given: a state renamed, cells that no state has
# or too few of them.
sed 's,>fog<,>mist<,' noheader.xml >renamed.xml
sed 's,>fog<,>mist<,' model.xml >renamedh.xml
sed 's,<print_flag>name,<print_flag>ser,' noheader.xml >ser.xml
printf 'time , 1 , 2 , 3 , 4 , 5 , 6 , 7 \n 2025 , 1 , 2 , 3 , 1 , 2 , 3 \n' >fewer
printf 'time , 1 , 2 , 3 , 4 , 5 , 6 , 7 \n 2025 , 1 , 2 , 3 , 1 , 2 , 3 , 4 \n' >state4
failures=0
while IFS='|' read -r want command; do
  status=0
  eval "$command" >/dev/null 2>err || status=$?
  if [ "$status" != 1 ] || [ "$(cat err)" != "$want" ]; then
    echo "$command: status $status, said \"$(cat err)\", not \"$want\""
    failures=$((failures + 1))
  fi
done <<'EOF'
 *** ERROR: (slice.2-7) starts at chain 2, not at chain 1|"$merge" slice.2-7 slice.1-1
 *** ERROR: (slice.5-7) starts at chain 5, not at chain 2|"$merge" slice.1-1 slice.5-7
 *** ERROR: (model.1-3) starts at chain 1, not at chain 4|"$merge" model.1-3 model.1-3
 *** ERROR: (gap) has a broken title line|"$merge" gap
 *** ERROR: (huge) has a broken title line|"$merge" huge
 *** ERROR: (model.xml) holds no chain table|"$merge" model.xml
 *** ERROR: (/dev/zero) holds no chain table|"$merge" /dev/zero
 *** ERROR: (/dev/null) is empty|"$merge" model.1-3 /dev/null
 *** ERROR: (folder) is a directory, not a slice's report|"$merge" model.1-3 folder
 *** ERROR: Unable to read file (/proc/self/mem)|"$merge" /proc/self/mem
 *** ERROR: (/dev/stdin) has a line longer than 64 MiB: it is not a report|{ printf 'time , 1 \n 2025 , '; head -c 70000000 /dev/zero; } | "$merge" /dev/stdin
 *** ERROR: (cut.4-7) ends inside a line: it was cut short|"$merge" noheader.1-3 cut.4-7
 *** ERROR: (cut.1-3) ends inside a line: it was cut short|"$merge" cut.1-3 model.4-7
 *** ERROR: (short.1-3) has 12 lines in its table, but the header of (short.1-3) says nbr_years 12|"$merge" short.1-3 short.4-7
 *** ERROR: (short.4-7) ends after 12 lines of its table, before (hval.1-3) does|"$merge" hval.1-3 short.4-7
 *** ERROR: (short.1-3) ends after 12 lines of its table, before (val.4-7) does|"$merge" short.1-3 val.4-7
 *** ERROR: the slices end at chain 3, but the header of (model.1-3) says 7 chains|"$merge" model.1-3
 *** ERROR: the slices end at chain 3, but --chains says 7 chains|"$merge" --chains 7 noheader.1-3
 *** ERROR: the slices end at chain 7, but --chains says 8 chains|"$merge" --chains 8 model.1-3 model.4-7
 *** ERROR: the slices end at chain 3, but (noheader.xml) says 7 chains|"$merge" --config noheader.xml noheader.1-3
 *** ERROR: (val.4-7) has val cells, not the name cells of (noheader.1-3)|"$merge" noheader.1-3 val.4-7
 *** ERROR: (val.1-3) has val cells, not the name cells of (noheader.xml)|"$merge" --config noheader.xml val.1-3 val.4-7
 *** ERROR: (other.4-7) does not have the steps of (noheader.1-3) at line 1 of its table|"$merge" noheader.1-3 other.4-7
 *** ERROR: (model.1-3) has a header, and (noheader.xml) asks for none|"$merge" --config noheader.xml model.1-3 model.4-7
 *** ERROR: (noheader.1-3) has no header, and (model.xml) asks for one|"$merge" --config model.xml noheader.1-3 noheader.4-7
 *** ERROR: (other.1-3) does not have step 2025 of (noheader.xml) at line 1 of its table|"$merge" --config noheader.xml other.1-3 other.4-7
 *** ERROR: (noheader.4-7) has a cell at line 2 of its table that no state of (renamed.xml) has|"$merge" --config renamed.xml noheader.1-3 noheader.4-7
 *** ERROR: (model.1-3) differs from (renamedh.xml) at line 12 of its header|"$merge" --config renamedh.xml model.1-3 model.4-7
 *** ERROR: (fewer) does not have a cell for each of its chains at line 1 of its table|"$merge" --config ser.xml fewer
 *** ERROR: (state4) has a cell at line 1 of its table that no state of (ser.xml) has|"$merge" --config ser.xml state4
 *** ERROR: --chains given twice|"$merge" --chains 7 --chains 7 model.1-3 model.4-7
 *** ERROR: --config given twice|"$merge" --config model.xml --config model.xml model.1-3 model.4-7
 *** ERROR: --chains needs a number from 1 to 2147483647, not (7x)|"$merge" --chains 7x model.1-3
 *** ERROR: unknown option (--chain); see pravlin-merge --help|"$merge" --chain 7 model.1-3
EOF
if "$merge" --help | grep -q ' $'; then
  echo "pravlin-merge --help: a line ends in a blank"
  failures=$((failures + 1))
fi
[ "$failures" = 0 ] || exit 1
echo "slices merge into the whole run, and what is not whole is refused"
