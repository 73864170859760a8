#!/usr/bin/env python3
"""fit_order_selection.py BIN [SETS] - pravlin-fit --select-order on simulated data.

A second-order chain on three states is written as a first-order pravlin configuration on pairs
of states (as pravlin-fit --order 2 writes one) and simulated by pravlin; so is a first-order
chain. SETS data sets of each (default 100), one sequence of 5000 observations apiece, are the
chains of one run, a slice each (pravlin --chains S-S). pravlin-fit --select-order 3 compares
orders 0 to 3 on each. Goal: BIC picks order 2 in at least 95 of 100 second-order data sets, and
order 1 in as many first-order ones. Exit status 0 when both hold."""
import csv
import itertools
import os
import subprocess
import sys
import tempfile

LABELS = ["a", "b", "c"]
SECOND = {  # P(next | two before)
    ("a", "a"): [0.10, 0.60, 0.30], ("a", "b"): [0.50, 0.20, 0.30], ("a", "c"): [0.30, 0.30, 0.40],
    ("b", "a"): [0.60, 0.20, 0.20], ("b", "b"): [0.20, 0.20, 0.60], ("b", "c"): [0.20, 0.50, 0.30],
    ("c", "a"): [0.30, 0.40, 0.30], ("c", "b"): [0.45, 0.35, 0.20], ("c", "c"): [0.60, 0.10, 0.30],
}
FIRST = {("a",): [0.5, 0.3, 0.2], ("b",): [0.2, 0.5, 0.3], ("c",): [0.3, 0.2, 0.5]}


def config(chain, order, sets, path):
    states = list(itertools.product(LABELS, repeat=order))
    with open(path, "w") as f:
        f.write("<pravlin>\n  <nbr_states>%d</nbr_states>\n  <nbr_years>%d</nbr_years>\n"
                % (len(states), 5000 - order))
        f.write("  <nbr_chains>%d</nbr_chains>\n  <print_flag>name</print_flag>\n" % sets)
        for i, s in enumerate(states):
            f.write("  <state><ser>%d</ser><name>%s</name><initial_probability>%r</initial_probability></state>\n"
                    % (i + 1, "|".join(s), 1.0 / len(states)))
        for i, s in enumerate(states):
            f.write("  <transition><from>%d</from>" % (i + 1))
            for y, p in zip(LABELS, chain[s]):
                f.write("<to><state>%d</state><probability>%r</probability></to>"
                        % (states.index(s[1:] + (y,)) + 1, p))
            f.write("</transition>\n")
        f.write("</pravlin>\n")


def sequence(report, order):
    """The labels of a one-chain report of tuples: the first tuple whole, then each last label."""
    rows, table = [], False
    for line in open(report, encoding="utf-8"):
        fields = [x.strip().strip('"') for x in line.split(",")]
        if fields[0] == "time" and all(x.isdigit() for x in fields[1:]):
            table = True
            continue
        if table and len(fields) == 2:
            rows.append(fields[1].split("|"))
    return rows[0] + [r[-1] for r in rows[1:]]


def chosen(bin_dir, tmp, chain, order, sets):
    xml = os.path.join(tmp, "truth.xml")
    config(chain, order, sets, xml)
    picks = {}
    for s in range(1, sets + 1):
        report = os.path.join(tmp, "slice.csv")
        with open(report, "w") as f:
            subprocess.run([os.path.join(bin_dir, "pravlin"), "--chains", "%d-%d" % (s, s), xml],
                           stdout=f, stderr=subprocess.DEVNULL, check=True, cwd=tmp)
        data = os.path.join(tmp, "data.txt")
        seq = sequence(report, order)
        assert len(seq) == 5000, len(seq)
        with open(data, "w") as f:
            f.write(" ".join(seq) + "\n")
        summary = os.path.join(tmp, "summary.csv")
        subprocess.run([os.path.join(bin_dir, "pravlin-fit"), data, "--select-order", "3", "--summary", summary,
                        "-o", os.devnull], check=True)
        bic = {int(r["count"]): float(r["value"]) for r in csv.DictReader(open(summary, encoding="utf-8"))
               if r["item"] == "order_bic"}
        pick = min(bic, key=bic.get)
        picks[pick] = picks.get(pick, 0) + 1
    return picks


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    sets = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    need = -(-95 * sets // 100)
    with tempfile.TemporaryDirectory() as tmp:
        second = chosen(bin_dir, tmp, SECOND, 2, sets)
        first = chosen(bin_dir, tmp, FIRST, 1, sets)
    print("second-order data, %d sets of 5000: BIC picks %s" % (sets, dict(sorted(second.items()))))
    print("first-order data, %d sets of 5000: BIC picks %s" % (sets, dict(sorted(first.items()))))
    ok = second.get(2, 0) >= need and first.get(1, 0) >= need
    print("goal (the true order in at least %d): %s" % (need, "met" if ok else "missed"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
