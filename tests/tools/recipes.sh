#!/bin/sh
# recipes.sh - the recipes for a run in slices (contrib/pravlin-parallel, and contrib/pravlin-slurm
# under a stand-in sbatch) write the whole run's report for configurations and folders whose
# names hold quotes, blanks, "%" and $(...), without ever running a name as a command; and
# pravlin-parallel never hangs, and says in one line what failed.
# Usage: recipes.sh PRAVLIN PRAVLIN_MERGE SOURCE_DIR WORK_DIR. Prints "... not tested" (the test
# is then skipped) where GNU parallel is missing.
# Part of pravlin; see README.md.
set -eu
pravlin=$1 merge=$2 src=$3 work=$4
rm -rf "$work"
mkdir -p "$work/bin"
cd "$work"
if ! command -v parallel >/dev/null 2>&1; then
  echo "GNU parallel not found: recipes not tested"
  exit 0
fi
# pravlin and pravlin-merge on the PATH, as the recipes and the nodes find them.
ln -s "$pravlin" bin/pravlin
ln -s "$merge" bin/pravlin-merge
PATH=$work/bin:$PATH
export PATH

# The stand-in sbatch: runs a job at once, an array's tasks one after another, each with its
# output in the file --output names (%a the task, %% a "%"); prints a job id, and fails as
# Slurm would refuse a job whose dependency failed.
cat >bin/sbatch <<'EOF'
#!/bin/sh
array=1 output=/dev/null dependency=
while :; do
  case $1 in
    --array=1-*) array=${1#--array=1-} ;;
    --output=*) output=${1#--output=} ;;
    --dependency=afterok:*) dependency=${1#--dependency=afterok:} ;;
    -*) ;;
    *) break ;;
  esac
  shift
done
script=$1
shift
if [ -n "$dependency" ] && [ -e "failed.$dependency" ]; then
  echo "sbatch: job $dependency failed" >&2
  exit 1
fi
id=$(($(cat jobs 2>/dev/null || echo 100) + 1))
echo "$id" >jobs
# The file EDIT_FILE is edited while job EDIT_JOB waits in the queue.
if [ "$id" = "${EDIT_JOB-}" ]; then
  echo '<!-- edited -->' >>"$EDIT_FILE"
fi
i=1
while [ "$i" -le "$array" ]; do
  log=$(printf '%s\n' "$output" | sed "s/%%/\x01/g; s/%a/$i/g; s/\x01/%/g")
  SLURM_ARRAY_TASK_ID=$i sh "$script" "$@" >"$log" 2>&1 || touch "failed.$id"
  i=$((i + 1))
done
echo "$id"
EOF
chmod +x bin/sbatch

# Seven chains, with a header; its report with the time and the configuration's name masked.
sed 's,<print_flag>val,<print_flag>name,' "$src/examples/weather.xml" |
  sed 's,<nbr_chains>4,<nbr_chains>7,' >model.xml
mask() {
  sed 's/^time , [A-Z][a-z][a-z] .*$/time , <TIME>/; s/^xmlfilename , .*/xmlfilename/' "$@"
}
pravlin model.xml | mask >whole
failures=0
check_report() {  # check_report WHAT FILE
  if ! mask "$2" | cmp -s whole -; then
    echo "$1: the report is not the whole run's"
    failures=$((failures + 1))
  fi
}

# Hostile names: none of them may run "touch X".
recipes=$src/contrib
i=0
for config in "a';touch X;echo '.xml" 'm$(touch X).xml' 'b c.xml' '%s%n.xml'; do
  cp model.xml "$config"
  PRAVLIN_MERGE=$merge sh "$recipes/pravlin-parallel" 7 3 "$config" -j 2 >report 2>err ||
    echo "pravlin-parallel on ($config) failed: $(cat err)"
  check_report "pravlin-parallel on ($config)" report
  i=$((i + 1))
  for out in "out $i" "o'$i\"" "o%a%%$i" "o\$(touch X)$i"; do
    sh "$recipes/pravlin-slurm" 7 3 "$config" "$out" --partition=batch >/dev/null 2>err ||
      echo "pravlin-slurm on ($config) into ($out) failed: $(cat err)"
    check_report "pravlin-slurm on ($config) into ($out)" "$out/report.csv"
    if [ -e "$out/slice.1.csv" ] || [ ! -e "$out/slice.3.log" ]; then
      echo "pravlin-slurm into ($out): the slices are left or their logs missing"
      failures=$((failures + 1))
    fi
  done
done
# The temporary folder may hold a blank, and its neighbours are left alone.
mkdir -p "tmp dir" tmp
echo kept >tmp/1.csv
TMPDIR="$work/tmp dir" sh "$recipes/pravlin-parallel" 7 7 model.xml >report
check_report "pravlin-parallel in (tmp dir)" report
if [ "$(cat tmp/1.csv)" != kept ] || [ -n "$(ls "tmp dir")" ]; then
  echo "pravlin-parallel in (tmp dir): a stray file was touched, or its folder left"
  failures=$((failures + 1))
fi

# Each failure: one line and status 1 (2 for usage), no hang (ctest's timeout), no command run.
# A parallel that dies before it starts a slice leaves the merge with pipes nobody opens.
mkdir -p dead
printf '#!/bin/sh\nexit 3\n' >dead/parallel
printf '#!/bin/sh\necho " *** ERROR: boom" >&2\nexit 1\n' >dead/pravlin
chmod +x dead/parallel dead/pravlin
while IFS='|' read -r status want command; do
  got=0
  eval "$command" >/dev/null 2>err || got=$?
  if [ "$got" != "$status" ] || [ "$(cat err)" != "$want" ]; then
    echo "$command: status $got, said \"$(cat err)\", not $status and \"$want\""
    failures=$((failures + 1))
  fi
done <<'EOF'
1| *** ERROR: Unable to open file (nope.xml)|sh "$recipes/pravlin-parallel" 7 3 nope.xml
1| *** ERROR: the slices end at chain 6, but (model.xml) says 7 chains|sh "$recipes/pravlin-parallel" 6 3 model.xml
1| *** ERROR: boom|PRAVLIN=dead/pravlin sh "$recipes/pravlin-parallel" 7 3 model.xml
1|pravlin-parallel: parallel failed (status 3) before running the slices|PATH=$work/dead:$PATH sh "$recipes/pravlin-parallel" 7 3 model.xml
1|pravlin-parallel: /nope not found (GNU parallel, and pravlin and pravlin-merge on the PATH or in PRAVLIN and PRAVLIN_MERGE)|PRAVLIN=/nope sh "$recipes/pravlin-parallel" 7 3 model.xml
2|pravlin-parallel: CHAINS and SLICES are numbers from 1 to 2147483647|sh "$recipes/pravlin-parallel" '4+$(touch X)' 2 model.xml
2|pravlin-parallel: SLICES must lie between 1 and CHAINS|sh "$recipes/pravlin-parallel" 3 4 model.xml
2|pravlin-slurm: CHAINS and SLICES are numbers from 1 to 2147483647|sh "$recipes/pravlin-slurm" '4+$(touch X)' 2 model.xml out
2|pravlin-slurm: CHAINS and SLICES are numbers from 1 to 2147483647|sh "$recipes/pravlin-slurm" 7 08 model.xml out
2|pravlin-slurm: OUTDIR must not hold a backslash|sh "$recipes/pravlin-slurm" 7 3 model.xml 'o\ut'
EOF
# A count other than the configuration's: the merge job fails, and leaves no report.
sh "$recipes/pravlin-slurm" 6 3 model.xml short >/dev/null
if [ -e short/report.csv ] || [ "$(cat short/merge.log)" != \
  " *** ERROR: the slices end at chain 6, but ($work/model.xml) says 7 chains" ]; then
  echo "pravlin-slurm with 6 of 7 chains: a report was left, or the merge said $(cat short/merge.log)"
  failures=$((failures + 1))
fi

# The configuration edited while the slices wait, or while the merge does: the job fails, says
# so, and leaves no report.
for job in 1 2; do
  cp model.xml "edited$job.xml"
  status=0
  EDIT_JOB=$(($(cat jobs) + job)) EDIT_FILE=edited$job.xml \
    sh "$recipes/pravlin-slurm" 7 3 "edited$job.xml" "edited$job" >/dev/null 2>&1 || status=$?
  log=edited$job/slice.1.log
  [ "$job" = 1 ] || log=edited$job/merge.log
  said=$(cat "$log")
  want="pravlin-slurm: the configuration changed after the job was submitted: $work/edited$job.xml"
  if [ -e "edited$job/report.csv" ] || [ "$said" != "$want" ] ||
    { [ "$job" = 1 ] && [ "$status" = 0 ]; }; then
    echo "pravlin-slurm, configuration edited before job $job: status $status, said \"$said\""
    failures=$((failures + 1))
  fi
done

if [ -n "$(find . -name X)" ]; then
  echo "a name was run as a command: $(find . -name X)"
  failures=$((failures + 1))
fi
[ "$failures" = 0 ] || exit 1
echo "the recipes write the whole run's report"
