#!/bin/bash
# completion.sh - the bash completion offers each program's options and the files it takes.
# Usage: completion.sh COMPLETION_FILE BIN_DIR WORK_DIR (BIN_DIR holds pravlin-analyze, whose
# --help the completion reads). Prints "... not tested" (the test is then skipped) where
# bash-completion is missing.
set -u
library=/usr/share/bash-completion/bash_completion
if [[ ! -r $library ]]; then
    echo "bash-completion not found: completion not tested"
    exit 0
fi
source "$library"
source "$1"
PATH=$2:$PATH
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
pravlin-analyze --p|--precision 
pravlin-analyze --v|--version 
pravlin-analyze --steps |
pravlin-analyze weather.xml --steps 3 |runs weather.xml 
pravlin-fit --c|--confidence 
pravlin-fit --s|--sort --states --summary 
pravlin-fit -o w|weather.xml wet.csv 
pravlin-fit --laplace |
pravlin-fit w|weather.xml wet.csv 
pravlin-merge w|weather.xml wet.csv 
EOF
((failures == 0))
