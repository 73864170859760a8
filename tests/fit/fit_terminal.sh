#!/bin/sh
# fit_terminal.sh - pravlin-fit reading a terminal says so, and how to end it, on standard error.
# script(1) gives it the terminal; skipped (77) without it. (That one Ctrl-D ends the data is
# held by fit_test.cc: script sends its own ends once its input runs out.)
# Usage: fit_terminal.sh PRAVLIN_FIT
# Part of pravlin; see README.md.
set -eu
if ! command -v script >/dev/null || ! command -v timeout >/dev/null; then
  echo "not tested: script(1) or timeout(1) missing"
  exit 77
fi
out=$(printf 'a b a\n\004' | timeout 20 script -qec "'$1' -q" /dev/null | tr -d '\r')
note=' *** NOTE: reading the data from standard input; end it with Ctrl-D at the start of a line'
if ! printf '%s\n' "$out" | grep -qxF "$note" || ! printf '%s\n' "$out" | grep -qx '</pravlin>'; then
  echo "expected the note and a whole configuration, got:"
  printf '%s\n' "$out"
  exit 1
fi
