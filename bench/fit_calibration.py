#!/usr/bin/env python3
"""fit_calibration.py BIN [SETS] [DRAWS] - the calibration of pravlin-fit --draws.

A known 5-state chain (every state recurrent) and a 3-state absorbing chain (two transient
states, one absorbing) are simulated by pravlin, SETS data sets of 20 sequences of 100 steps
each (default 400): one run of 20 * SETS chains, each data set a slice of 20 (pravlin --chains
A-B; the chains of a slice are exactly those of the whole run, and pravlin cannot be seeded).
Each data set is refitted with --draws DRAWS (default 500), and the share of fits whose 95%
interval holds the true value is counted: stationary probabilities and the Kemeny constant for
the first chain, expected steps to absorption for the second. Goal: 93% to 97% each. The true values are
solved here in plain Python. Exit status 0 when every share is within the goal."""
import csv
import os
import subprocess
import sys
import tempfile

ERGODIC = [
    [0.50, 0.20, 0.10, 0.10, 0.10],
    [0.15, 0.40, 0.25, 0.10, 0.10],
    [0.05, 0.20, 0.50, 0.20, 0.05],
    [0.10, 0.10, 0.20, 0.45, 0.15],
    [0.30, 0.05, 0.05, 0.20, 0.40],
]
ABSORBING = [
    [0.50, 0.30, 0.20],
    [0.30, 0.40, 0.30],
    [0.00, 0.00, 1.00],
]


def config(matrix, names, initial, chains, path):
    with open(path, "w") as f:
        f.write("<pravlin>\n  <nbr_states>%d</nbr_states>\n  <nbr_years>100</nbr_years>\n" % len(matrix))
        f.write("  <nbr_chains>%d</nbr_chains>\n  <print_flag>name</print_flag>\n" % chains)
        for i, name in enumerate(names):
            f.write("  <state><ser>%d</ser><name>%s</name><initial_probability>%r</initial_probability></state>\n"
                    % (i + 1, name, initial[i]))
        for i, row in enumerate(matrix):
            f.write("  <transition><from>%d</from>" % (i + 1))
            for j, p in enumerate(row):
                if p > 0:
                    f.write("<to><state>%d</state><probability>%r</probability></to>" % (j + 1, p))
            f.write("</transition>\n")
        f.write("</pravlin>\n")


def solve(a, b):
    """Gaussian elimination with partial pivoting: a x = b."""
    n = len(a)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        for r in range(c + 1, n):
            f = m[r][c] / m[c][c]
            for k in range(c, n + 1):
                m[r][k] -= f * m[c][k]
    x = [0.0] * n
    for r in reversed(range(n)):
        x[r] = (m[r][n] - sum(m[r][k] * x[k] for k in range(r + 1, n))) / m[r][r]
    return x


def stationary(p):
    n = len(p)
    # pi (P - I) = 0 with the last equation replaced by sum pi = 1.
    a = [[p[j][i] - (1.0 if i == j else 0.0) for j in range(n)] for i in range(n)]
    a[-1] = [1.0] * n
    return solve(a, [0.0] * (n - 1) + [1.0])


def kemeny(p):
    """tr Z - 1, Z = (I - P + 1 pi)^-1 the fundamental matrix."""
    n = len(p)
    pi = stationary(p)
    a = [[(1.0 if i == j else 0.0) - p[i][j] + pi[j] for j in range(n)] for i in range(n)]
    return sum(solve(a, [1.0 if i == j else 0.0 for i in range(n)])[j] for j in range(n)) - 1.0


def steps(p, transient):
    a = [[(1.0 if i == j else 0.0) - p[ti][tj] for j, tj in enumerate(transient)] for i, ti in enumerate(transient)]
    return solve(a, [1.0] * len(transient))


def coverage(bin_dir, tmp, matrix, names, initial, truth, sets, draws):
    """truth: (item, from) -> the true value."""
    xml = os.path.join(tmp, "truth.xml")
    config(matrix, names, initial, 20 * sets, xml)
    held = {key: 0 for key in truth}
    width = {key: 0.0 for key in truth}
    for s in range(sets):
        report = os.path.join(tmp, "slice.csv")
        with open(report, "w") as f:
            subprocess.run([os.path.join(bin_dir, "pravlin"), "--chains", "%d-%d" % (20 * s + 1, 20 * s + 20), xml],
                           stdout=f, stderr=subprocess.DEVNULL, check=True, cwd=tmp)
        summary = os.path.join(tmp, "summary.csv")
        subprocess.run([os.path.join(bin_dir, "pravlin-fit"), report, "--states", ",".join(names),
                        "--draws", str(draws), "--seed", str(s + 1), "--summary", summary, "-o", os.devnull],
                       check=True)
        for r in csv.DictReader(open(summary, encoding="utf-8")):
            key = (r["item"], r["from"])
            if key in truth and r["lower"]:
                lo, hi = float(r["lower"]), float(r["upper"])
                held[key] += lo <= truth[key] <= hi
                width[key] += (hi - lo) / sets
    ok = True
    for key in truth:
        share = held[key] / sets
        ok = ok and 0.93 <= share <= 0.97
        print("  %s %s: true %.6f, held in %d of %d fits (%.1f%%), mean width %.4f"
              % (key[0], key[1], truth[key], held[key], sets, 100 * share, width[key]))
    return ok


def main():
    bin_dir = os.path.abspath(sys.argv[1])
    sets = int(sys.argv[2]) if len(sys.argv) > 2 else 400
    draws = int(sys.argv[3]) if len(sys.argv) > 3 else 500
    with tempfile.TemporaryDirectory() as tmp:
        names = ["s1", "s2", "s3", "s4", "s5"]
        pi = stationary(ERGODIC)
        print("5-state chain, %d data sets of 20 sequences of 100 steps, --draws %d:" % (sets, draws))
        truth = {("stationary", name): p for name, p in zip(names, pi)}
        # The one class is named by its first state.
        truth[("kemeny_constant", "s1")] = kemeny(ERGODIC)
        ok = coverage(bin_dir, tmp, ERGODIC, names, [0.2] * 5, truth, sets, draws)
        names = ["t1", "t2", "end"]
        k = steps(ABSORBING, [0, 1])
        print("3-state absorbing chain, the same:")
        ok = coverage(bin_dir, tmp, ABSORBING, names, [0.5, 0.5, 0.0],
                      {("steps_to_absorption", "t1"): k[0], ("steps_to_absorption", "t2"): k[1]},
                      sets, draws) and ok
    print("goal (93% to 97% each):", "met" if ok else "missed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
