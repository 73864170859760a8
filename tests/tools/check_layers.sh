#!/bin/sh
# check_layers.sh - scripts/check-layers passes a tree whose includes only go down, and refuses
# an include up a layer (bare or path-qualified, from a library, a test or a program), two
# headers of one name in src/, a loop of units across folders and a loop of units inside one
# folder, naming each.
# Usage: check_layers.sh CHECK_LAYERS WORK_DIR
# Part of pravlin; see README.md.
set -eu
check=$1 work=$2
failed=0

# tree NAME FILE:INCLUDE...: a tree under WORK_DIR/NAME whose FILE (under src/, or under tests/
# or tools/ when it starts so) includes INCLUDE.
tree() {
  dir=$work/$1
  shift
  rm -rf "$dir"
  mkdir -p "$dir/src/base" "$dir/src/xml" "$dir/src/core"
  for pair in "$@"; do
    file=${pair%%:*} header=${pair#*:}
    case $file in tests/* | tools/*) ;; *) file=src/$file ;; esac
    mkdir -p "$dir/$(dirname "$file")"
    [ -f "$dir/$file" ] || : >"$dir/$file"
    [ -z "$header" ] || echo "#include \"$header\"" >>"$dir/$file"
  done
}

# expect NAME STATUS TEXT: check-layers on the tree ends with STATUS and prints TEXT (empty:
# nothing).
expect() {
  out=$(sh "$check" "$work/$1" 2>&1) && status=0 || status=$?
  if [ "$status" != "$2" ] || [ "$out" != "$3" ]; then
    echo "FAIL $1: status $status (expected $2), output:"
    echo "$out"
    failed=1
  fi
}

base="base/fail.h: base/fail.cc:fail.h xml/xml.h:fail.h xml/xml.cc:xml.h"

# shellcheck disable=SC2086
tree down $base core/draw.h:xml.h core/draw.cc:draw.h core/simulate.h: core/simulate.cc:draw.h
expect down 0 ""

# shellcheck disable=SC2086
tree up $base core/pravlin.h:xml.h xml/xml.cc:pravlin.h
expect up 1 "src/xml/xml.cc: includes pravlin.h of src/core/, a layer it may not reach
an include loop of core/pravlin xml/xml"

# A source and a header that include each other's partner: no file includes itself, but the
# units loop, and in src/core that is refused.
# shellcheck disable=SC2086
tree loop $base core/draw.h: core/draw.cc:simulate.h core/simulate.h: core/simulate.cc:draw.h
expect loop 1 "an include loop of core/simulate core/draw"

# The same loop in src/xml is refused too: no folder may hold one (the reader including its
# memory, whose header includes the reader's).
# shellcheck disable=SC2086
tree xml_loop $base xml/memory.h:xml.h xml/memory.cc:memory.h xml/xml.cc:memory.h
expect xml_loop 1 "an include loop of xml/memory xml/xml"

# An include that names its layer is found by its path, and held to the same rules.
# shellcheck disable=SC2086
tree qualified $base core/pravlin.h: core/draw.cc:xml/xml.h xml/xml.cc:core/pravlin.h
expect qualified 1 "src/xml/xml.cc: includes core/pravlin.h of src/core/, a layer it may not reach"

# Two headers of one name: a bare include could mean either.
# shellcheck disable=SC2086
tree twins $base base/util.h: core/util.h:
expect twins 1 "src/*/util.h: two headers of one name (src/base/util.h src/core/util.h)"

# The tests of a component reach what it may reach, and its own and tests/ helpers; a program
# reaches every library.
# shellcheck disable=SC2086
tree tests $base core/draw.h: tests/test_util.h:fail.h tests/core/core_test_util.h:draw.h \
  tests/core/draw_test.cc:core_test_util.h tests/core/draw_test.cc:test_util.h \
  tests/xml/xml_test_util.h:xml.h tests/xml/xml_test.cc:xml/xml_test_util.h \
  tests/xml/reader_test.cc:core/draw.h tests/xml/reader_test.cc:test_util.h \
  tools/pravlin/main.cc:draw.h
expect tests 1 "tests/xml/reader_test.cc: includes core/draw.h of src/core/, a layer it may not reach
tests/xml/reader_test.cc: includes test_util.h of tests/, a layer it may not reach"

exit $failed
