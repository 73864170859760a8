#!/bin/sh
# pravlin_plot.sh - pravlin-plot draws names and file names as they are, never runs a command
# found in them, puts the picture beside the report, and picks a font that has the names'
# characters. Usage: pravlin_plot.sh PLOT WORK_DIR names|font
# Prints "... not tested" (the test is then skipped) where gnuplot or fontconfig is missing.
set -u
plot=$1
work=$2
command -v gnuplot >/dev/null 2>&1 || { echo "gnuplot not found: pravlin-plot not tested"; exit 0; }
rm -rf "$work" && mkdir -p "$work" && cd "$work" || exit 1
failures=0
failed() {
  printf 'FAILED: %s\n' "$*"
  failures=$((failures + 1))
}

# A report as pravlin writes it (quoted fields with their quotes doubled), of states $1 and $2,
# from the configuration "$1.xml".
report() {
  one=$(printf '%s' "$1" | sed 's/"/""/g')
  two=$(printf '%s' "$2" | sed 's/"/""/g')
  cat <<EOF
PRAVLIN VERSION , 1.0
time , Tue Dec  8 00:51:18 2026
xmlfilename , "$one.xml"
outfilename
nbr_states , 2
init_year  , 2025
nbr_years  , 2
nbr_chains , 2
state , name , val , initial_probability
1 , "$one" , 0.000000 , 1.000000
2 , "$two" , 1.000000 , 0.000000
transition_probability
 0.700000 , 0.400000
 0.300000 , 0.600000
max_iteration , 50 , actual_iteration, 4
max_error , 0.000000 , actual_error, 0.000000
state ,  steady_state_probability
1 , 0.571429
2 , 0.428571
time , 1 , 2 
 2025 , "$one" , "$two" 
 2026 , "$two" , "$one" 
EOF
}

# Runs pravlin-plot on "$dir/$1.csv" (a report of states $1 and $2), to the default picture and
# to an SVG, whose text must show every line of both names.
draws_literally() {
  dir=$3
  mkdir "$dir"
  report "$1" "$2" >"$dir/$1.csv"
  out=$(sh "$plot" "$dir/$1.csv" 2>"$dir/err")
  status=$?
  [ "$status" -eq 0 ] && [ ! -s "$dir/err" ] && [ "$out" = "$dir/$1.png" ] && [ -s "$dir/$1.png" ] ||
    failed "$dir: status $status, printed \"$out\", stderr: $(cat "$dir/err")"
  sh "$plot" "$dir/$1.csv" "$dir/picture.svg" >/dev/null 2>"$dir/err" ||
    failed "$dir: no SVG: $(cat "$dir/err")"
  while IFS= read -r line; do
    grep -qF -e ">$line</text>" "$dir/picture.svg" || failed "$dir: \"$line\" not drawn"
  done <<EOF
$1
$2
EOF
  grep -qF -e "$(printf '%s' "$1" | tail -n 1).xml: 2 chains</text>" "$dir/picture.svg" ||
    failed "$dir: title not drawn"
}

# The picture goes beside the report, named as the report with its extension replaced by .png.
goes_beside() {
  case $1 in */*) mkdir -p "${1%/*}" ;; esac
  report dry wet >"$1"
  out=$(sh "$plot" "$1" 2>&1) && [ "$out" = "$2" ] && [ -s "$2" ] ||
    failed "picture of $1: expected $2, got \"$out\""
}

if [ "$3" = names ]; then
  # Each name would run "touch pwned" if gnuplot read it as code.
  draws_literally 'dry`touch pwned`' wet backquote
  draws_literally 'dry\' 'a" . system("touch pwned") . "b' backslash_then_system
  draws_literally 'say "hi"' '"' double_quote
  draws_literally "it's" "x'.system('touch pwned').'" single_quote
  draws_literally '$(touch pwned)' '@title' dollar_paren_and_macro
  draws_literally "x'; !touch pwned; '" 'a; b' semicolon
  draws_literally 'two
!touch pwned' 'x,
y' newline
  [ ! -e pwned ] || failed "a name ran a command"

  goes_beside runs.v1/report runs.v1/report.png
  goes_beside ./report ./report.png
  goes_beside a.csv a.png
  goes_beside in/.hidden in/.hidden.png
  out=$(report dry wet | sh "$plot" - 2>&1) && [ "$out" = report.png ] && [ -s report.png ] ||
    failed "picture of standard input: \"$out\""
fi

if [ "$3" = font ]; then
  command -v fc-list >/dev/null 2>&1 || { echo "fontconfig not found: font choice not tested"; exit 0; }
  # U+10FFFD is a private character no font has.
  mkdir none
  report "$(printf 'dry \364\217\277\275')" wet >none/r.csv
  sh "$plot" none/r.csv >/dev/null 2>none/err || failed "none: $(cat none/err)"
  grep -q '^pravlin-plot: no installed font has every character of the names; drawn with ' \
    none/err || failed "none: no message naming the font: $(cat none/err)"
  # 天气, weather, in a CJK font when one is installed.
  cjk=$(fc-list ':charset=5929 6c14' family | head -n 1)
  if [ -z "$cjk" ]; then
    [ "$failures" -eq 0 ] || exit 1
    echo "no CJK font installed (Debian: fonts-noto-cjk): fallback not tested"
    exit 0
  fi
  mkdir cjk
  report "$(printf '\345\244\251\346\260\224')" wet >cjk/r.csv
  sh "$plot" cjk/r.csv cjk/r.svg >/dev/null 2>cjk/err || failed "cjk: $(cat cjk/err)"
  font=$(sed -n 's/^pravlin-plot: .* lacks characters of the names; drawn with //p' cjk/err)
  [ -n "$font" ] && fc-list "$font:charset=5929 6c14" family | grep -q . &&
    grep -qF "font-family=\"$font\"" cjk/r.svg || failed "cjk: font \"$font\": $(cat cjk/err)"
fi
[ "$failures" -eq 0 ]
