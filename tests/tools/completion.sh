#!/bin/bash
# completion.sh - the bash completion offers every option of each program's --help, the values
# and files an option takes (none where it takes a number), and the files a program takes;
# without the programs on the PATH.
# Usage: completion.sh COMPLETION_FILE BIN_DIR WORK_DIR (BIN_DIR holds the programs, whose
# --help lists their options). Prints "... not tested" (the test is then skipped) where
# bash-completion is missing.
set -u
library=/usr/share/bash-completion/bash_completion
if [[ ! -r $library ]]; then
    echo "bash-completion not found: completion not tested"
    exit 0
fi
source "$library"
source "$1"
rm -rf "$3" && mkdir -p "$3/runs" && cd "$3" || exit 1
touch weather.xml wet.csv

failures=0
# The completions of the line's last word, one per line, sorted.
completions() {
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    read -ra COMP_WORDS <<<"$COMP_LINE"
    [[ $COMP_LINE == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    local program=${COMP_WORDS[0]}
    local function
    function=$(complete -p "$program" | sed 's/.*-F \([^ ]*\) .*/\1/')
    "$function" "$program" "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    ((${#COMPREPLY[@]} == 0)) || printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' '
}

while IFS='|' read -r line want; do
    got=$(completions "$line")
    if [[ $got != "$want" ]]; then
        echo "FAILED: \"$line\": expected \"$want\", got \"$got\""
        failures=$((failures + 1))
    fi
done <<'EOF'
pravlin --|--chains --help --version 
pravlin -|--chains --help --version -h 
pravlin weather.xml --|--chains 
pravlin --chains |
pravlin w|weather.xml 
pravlin |runs weather.xml 
pravlin-analyze --st|--steps 
pravlin-analyze --pr|--precision 
pravlin-analyze --lu|--lump --lump-tolerance 
pravlin-analyze --v|--version 
pravlin-analyze --steps |
pravlin-analyze --repair |da qo wa 
pravlin-analyze --hor|--horizon --horizon-csv 
pravlin-analyze --cycle-correction |half none simpson trapezoid 
pravlin-analyze --horizon-csv w|weather.xml wet.csv 
pravlin-analyze weather.xml --steps 3 |runs weather.xml 
pravlin-fit --co|--columns --confidence 
pravlin-fit --s|--seed --select-order --sort --states --summary 
pravlin-fit -o w|weather.xml wet.csv 
pravlin-fit --laplace |
pravlin-fit w|weather.xml wet.csv 
pravlin-merge w|weather.xml wet.csv 
pravlin-merge --config |runs weather.xml 
pravlin-merge --chains |
pravlin-merge --c|--chains --config 
pravlin-analyze --dot w|weather.xml wet.csv 
pravlin-analyze --target |
pravlin-fit --columns |
pravlin-fit --input |long matrix report sequences 
pravlin-fit --empty u|uniform 
pravlin-fit --output w|weather.xml wet.csv 
pravlin-fit wet.csv -|--blocks --by-period --chains --columns --confidence --draws --empty --group --groups --input --laplace --listing --order --output --prior --quiet --seed --select-order --sort --states --summary --table --test --threads --years -o -q 
EOF

# Every option each --help lists completes, typed in full, as the first word.
for program in pravlin pravlin-analyze pravlin-fit pravlin-merge; do
    # The names before the description (two blanks), and the usage's --help | -h | --version.
    options=$("$2/$program" --help | grep -E '^  -|--help \|' | sed -E 's/^ +//; s/  .*//' |
        grep -oE -- '(^|[ ,|])--?[a-zA-Z][a-z-]*' | grep -oE -- '--?[a-zA-Z][a-z-]*')
    [[ -n $options ]] || { echo "FAILED: no options in $program --help"; failures=$((failures + 1)); }
    for option in $options; do
        got=$(completions "$program $option")
        if [[ " $got" != *" $option "* ]]; then
            echo "FAILED: \"$program $option\": got \"$got\""
            failures=$((failures + 1))
        fi
    done
done
((failures == 0))
