# pravlin-completion.bash - bash completion of the options and files of pravlin,
# pravlin-analyze, pravlin-fit and pravlin-merge. Part of pravlin; see README.md.
# Installed as bash-completion/completions/pravlin, and the same under the other names,
# where bash-completion loads it when one of them is first completed.

_pravlin() {
    local cur prev words cword
    _init_completion || return
    # --help and --version count only as the sole argument; --chains A-B stands anywhere.
    [[ $prev == --chains ]] && return
    if [[ $cur == -* ]]; then
        if [[ $cword -eq 1 ]]; then
            COMPREPLY=($(compgen -W '--help -h --version --chains' -- "$cur"))
        else
            COMPREPLY=($(compgen -W '--chains' -- "$cur"))
        fi
        return
    fi
    _filedir xml
} &&
    complete -F _pravlin pravlin

# pravlin-merge: the slices' reports, in chain order.
_pravlin_merge() {
    local cur prev words cword
    _init_completion || return
    if [[ $cword -eq 1 && $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help -h --version' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _pravlin_merge pravlin-merge

# pravlin-analyze's options are read from its --help, so that new ones complete too; an option
# shown there with a value after it ("--steps N") takes the next word.
_pravlin_analyze() {
    local cur prev words cword
    _init_completion || return
    if [[ $prev == --* ]] &&
        "$1" --help 2>/dev/null | grep -qE "^ +$prev +[A-Z]+ "; then
        return
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help -h --version $(_parse_help "$1")' -- "$cur"))
        return
    fi
    _filedir xml
} &&
    complete -F _pravlin_analyze pravlin-analyze

_pravlin_fit() {
    local cur prev words cword
    _init_completion || return
    case $prev in
        -o | --summary)
            _filedir
            return
            ;;
        --laplace | --prior | --states | --blocks | --confidence)
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W '--help --version -o --summary --laplace --prior --sort
            --states --test --blocks --confidence' -- "$cur"))
        return
    fi
    _filedir
} &&
    complete -F _pravlin_fit pravlin-fit
