#!/bin/sh
# make-completion.sh - writes the bash completion of the programs from their own option tables,
# so that every option they list in --help completes, and nothing else does.
# Usage: make-completion.sh OUTPUT PROGRAM... (each PROGRAM a path to a built program)
# Part of pravlin; see README.md.
#
# Each program, given --complete-options alone, prints its table as lines (option_table.h):
# "first --help -h --version", the words offered only as the first argument; "operands xml"
# or "operands files", the files it takes; then one line an option, its kind and its names:
# "flag" takes no value, "file" a file name, "config" a configuration, "plain" a value with no
# completion (a number, a list of states), and "words NAMES = WORD..." one of those words.
set -eu
out=$1
shift
{
  cat <<'HEAD'
# pravlin-completion.bash - bash completion of the options and files of pravlin,
# pravlin-analyze, pravlin-fit and pravlin-merge. Part of pravlin; see README.md.
# Made by scripts/make-completion.sh from the programs' option tables when they are built.
# Installed as bash-completion/completions/pravlin, and the same under the other names,
# where bash-completion loads it when one of them is first completed.
HEAD
  for program in "$@"; do
    "$program" --complete-options | awk -v name="$(basename "$program")" '
      function add(list, word) { return list == "" ? word : list " | " word }
      $1 == "first" { first_only = substr($0, 7); next }
      $1 == "operands" { operands = $2; next }
      {
        kind = $1
        names = ""
        words = ""
        for (i = 2; i <= NF; i++) {
          if ($i == "=") { words = $0; sub(/^[^=]*= /, "", words); break }
          names = names == "" ? $i : names " " $i
        }
        options = options == "" ? names : options " " names
        gsub(/ /, " | ", names)
        if (kind == "file") files = add(files, names)
        else if (kind == "config") configs = add(configs, names)
        else if (kind == "words") { choice[++choices] = names; choice_words[choices] = words }
        else if (kind == "plain") plain = add(plain, names)
      }
      END {
        fn = "_" name
        gsub(/-/, "_", fn)
        print ""
        print fn "() {"
        print "    local cur prev words cword"
        print "    _init_completion || return"
        print "    case $prev in"
        if (files != "") print "        " files ")\n            _filedir\n            return\n            ;;"
        if (configs != "") print "        " configs ")\n            _filedir xml\n            return\n            ;;"
        for (i = 1; i <= choices; i++)
          print "        " choice[i] ")\n            COMPREPLY=($(compgen -W \x27" choice_words[i] "\x27 -- \"$cur\"))\n            return\n            ;;"
        if (plain != "") print "        " plain ")\n            return\n            ;;"
        print "    esac"
        print "    if [[ $cur == -* ]]; then"
        print "        local options=\x27" options "\x27"
        print "        ((cword == 1)) && options+=\x27 " first_only "\x27"
        print "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))"
        print "        return"
        print "    fi"
        print (operands == "xml" ? "    _filedir xml" : "    _filedir")
        print "} &&"
        print "    complete -F " fn " " name
      }'
  done
} >"$out.part"
mv "$out.part" "$out"
