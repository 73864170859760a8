#!/bin/sh
# analyze_dot_renders.sh ANALYZE EXAMPLES_DIR - every bundled example's drawing, a chain too big
# to draw state by state, and names that need escaping must all render with dot -Tsvg.
# Exits 77 (skipped) when Graphviz's dot is not installed.
# Part of pravlin; see README.md.
set -u
analyze=$1
examples=$2
if ! command -v dot >/dev/null 2>&1; then
  echo "dot (Debian package graphviz) is not installed: skipped"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
render() {
  if ! "$analyze" "$1" --dot "$work/chain.dot" >"$work/out.txt" 2>/dev/null; then
    echo "FAIL: pravlin-analyze $1 --dot"
    failed=1
  elif ! dot -Tsvg "$work/chain.dot" -o "$work/chain.svg" 2>"$work/dot.err" ||
    ! grep -q "<svg" "$work/chain.svg"; then
    echo "FAIL: dot -Tsvg on the drawing of $1"
    failed=1
  elif [ -s "$work/dot.err" ]; then
    echo "FAIL: dot -Tsvg warns on the drawing of $1:"
    cat "$work/dot.err"
    failed=1
  elif ! grep -q "$2" "$work/out.txt"; then
    echo "FAIL: $1 does not say \"$2\""
    failed=1
  else
    echo "ok: $1"
  fi
}
for f in "$examples"/*.xml; do
  render "$f" "every state and transition"
done
# 300 states in a ring: only the classes are drawn, and the output says so.
awk 'BEGIN { printf "<pravlin><nbr_states>300</nbr_states>"; for (i = 1; i <= 300; i++) printf "<state><ser>%d</ser><name>s%d</name><initial_probability>1</initial_probability></state><transition><from>%d</from><to><state>%d</state><probability>1</probability></to></transition>\n", i, i, i, i % 300 + 1; print "</pravlin>" }' >"$work/ring.xml"
render "$work/ring.xml" "the classes only: 300 states"
# Names with a quote, a backslash, bytes that are not UTF-8 (a stray byte, an overlong slash, a
# surrogate), an escape and a line break: dot renders them without a warning.
printf '<pravlin><nbr_states>2</nbr_states><state><ser>1</ser><name>say "hi" \\ \377 \300\257 \355\240\200 \033[1m\nthere</name><initial_probability>1</initial_probability></state><state><ser>2</ser><name>b</name></state><transition><from>1</from><to><state>2</state><probability>1</probability></to></transition><transition><from>2</from><to><state>2</state><probability>1</probability></to></transition></pravlin>\n' >"$work/names.xml"
render "$work/names.xml" "every state and transition"
exit $failed
