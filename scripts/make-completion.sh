#!/bin/sh
# make-completion.sh - writes the bash completion of the programs from their own --help, so that
# every option they list completes, and nothing else does.
# Usage: make-completion.sh OUTPUT PROGRAM... (each PROGRAM a path to a built program)
# Part of pravlin; see README.md.
#
# From each --help: the options, in the lines that begin with two blanks and a dash
# ("  -o, --output FILE   what it does"); the word after an option is its value: FILE takes a
# file name, a name ending in .xml a configuration, "a|b" one of those words, and so does a
# description "a, b or c"; anything else (N, A-B, S[,S...]) no completion at all. --help, -h and --version come first on the line
# only. The first usage line's words outside brackets tell the files the program takes: a
# configuration (CONFIG.xml) or any file.
set -eu
out=$1
shift
{
  cat <<'EOF'
# pravlin-completion.bash - bash completion of the options and files of pravlin,
# pravlin-analyze, pravlin-fit and pravlin-merge. Part of pravlin; see README.md.
# Made by scripts/make-completion.sh from the programs' --help when they are built.
# Installed as bash-completion/completions/pravlin, and the same under the other names,
# where bash-completion loads it when one of them is first completed.
EOF
  for program in "$@"; do
    "$program" --help | awk -v name="$(basename "$program")" '
      function add(list, word) { return list == "" ? word : list " | " word }
      /^Usage: / && usage == "" {
        usage = $0
        sub(/^Usage: [^ ]+/, "", usage)
        # Brackets inside brackets go first: [--target S[,S...]].
        while (gsub(/\[[^][]*\]/, "", usage)) {}
      }
      / --help \| -h \| --version/ { first_only = "--help -h --version" }
      /^  -/ {
        option = substr($0, 3)
        what = option
        sub(/  .*/, "", option)
        if (!sub(/^[^ ]+( [^ ]+)*  +/, "", what)) what = ""
        gsub(/,/, "", option)
        n = split(option, w, " ")
        value = ""
        names = ""
        for (i = 1; i <= n; i++) {
          if (w[i] ~ /^-/) names = names == "" ? w[i] : names " " w[i]
          else value = w[i]
        }
        options = options == "" ? names : options " " names
        gsub(/ /, " | ", names)
        if (value == "") next
        if (value == "FILE") files = add(files, names)
        else if (value ~ /\.xml$/) configs = add(configs, names)
        else if (value ~ /\|/) { choice[++choices] = names; words[choices] = value }
        else if (what ~ /^[a-z]+(, [a-z]+)* or [a-z]+$/) {
          choice[++choices] = names
          words[choices] = what
          gsub(/,| or /, " ", words[choices])
          gsub(/  +/, " ", words[choices])
        }
        else plain = add(plain, names)
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
        for (i = 1; i <= choices; i++) {
          gsub(/\|/, " ", words[i])
          print "        " choice[i] ")\n            COMPREPLY=($(compgen -W \x27" words[i] "\x27 -- \"$cur\"))\n            return\n            ;;"
        }
        if (plain != "") print "        " plain ")\n            return\n            ;;"
        print "    esac"
        print "    if [[ $cur == -* ]]; then"
        print "        local options=\x27" options "\x27"
        print "        ((cword == 1)) && options+=\x27 " first_only "\x27"
        print "        COMPREPLY=($(compgen -W \"$options\" -- \"$cur\"))"
        print "        return"
        print "    fi"
        print (usage ~ /[^ ]\.xml/ ? "    _filedir xml" : "    _filedir")
        print "} &&"
        print "    complete -F " fn " " name
      }'
  done
} >"$out.part"
mv "$out.part" "$out"
