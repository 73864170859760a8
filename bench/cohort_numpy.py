#!/usr/bin/python3
# cohort_numpy.py - a cohort model of five states (healthy, two tunnel states after falling
# sick, sick, dead) whose mortality rises with age over six periods, its configuration and the
# path of pravlin-analyze --horizon by numpy's dense loop over the periods' matrices.
# Usage: cohort_numpy.py DIR: writes DIR/config.xml and DIR/numpy.csv (step, the distribution,
# the value and the discounted total with the trapezoid rule, as --horizon-csv writes them), which
# tests/cases/pravlin-analyze/analyze_horizon_cohort compares within 1e-12.
# Part of pravlin; see README.md.
import os
import sys

import numpy as np

NAMES = ["healthy", "sick year 1", "sick year 2", "sick", "dead"]
COST = [1000.0, 5000.0, 3000.0, 2000.0, 0.0]
PERIODS = [(1, 2), (3, 4), (5, 6), (7, 8), (9, 10), (11, 12)]
STEPS = 15
DISCOUNT = 0.035


def matrix(k):
    m = 0.01 * 1.4 ** k  # mortality of the healthy in period k
    p = np.zeros((5, 5))
    p[0] = [1.0 - 0.1 - m, 0.1, 0.0, 0.0, m]
    p[1] = [0.0, 0.0, 1.0 - 3 * m, 0.0, 3 * m]
    p[2] = [0.0, 0.0, 0.0, 1.0 - 2 * m, 2 * m]
    p[3] = [0.05, 0.0, 0.0, 0.95 - 2 * m, 2 * m]
    p[4] = [0.0, 0.0, 0.0, 0.0, 1.0]
    return p


def main():
    out = sys.argv[1]
    mats = [matrix(k) for k in range(len(PERIODS))]
    with open(os.path.join(out, "config.xml"), "w") as f:
        f.write("<pravlin>\n  <nbr_states>5</nbr_states>\n  <init_year>2026</init_year>\n")
        f.write("  <nbr_years>%d</nbr_years>\n  <nbr_chains>10</nbr_chains>\n" % STEPS)
        f.write("  <print_flag>name</print_flag>\n")
        for s, name in enumerate(NAMES):
            f.write("  <state><ser>%d</ser><name>%s</name><value>%.17g</value>"
                    "<initial_probability>%d</initial_probability></state>\n"
                    % (s + 1, name, COST[s], 1 if s == 0 else 0))
        for (first, last), p in zip(PERIODS, mats):
            f.write("  <period>\n    <first>%d</first>\n    <last>%d</last>\n" % (first, last))
            for i in range(5):
                f.write("    <transition><from>%d</from>\n" % (i + 1))
                for j in range(5):
                    if p[i, j] > 0.0:
                        f.write("      <to><state>%d</state><probability>%.17g</probability>"
                                "</to>\n" % (j + 1, p[i, j]))
                f.write("    </transition>\n")
            f.write("  </period>\n")
        f.write("</pravlin>\n")
    x = np.zeros(5)
    x[0] = 1.0
    a = []
    with open(os.path.join(out, "numpy.csv"), "w") as f:
        for t in range(STEPS + 1):
            a.append(float(x @ COST) / (1.0 + DISCOUNT) ** t)
            total = 0.0 if t == 0 else sum(a) - a[0] / 2 - a[t] / 2
            f.write(",".join([str(t)] + ["%.17g" % v for v in x]
                             + ["%.17g" % float(x @ COST), "%.17g" % total]) + "\n")
            # step t + 1 is drawn from the period that holds it, the last one after its end
            k = next((i for i, (first, last) in enumerate(PERIODS) if first <= t + 1 <= last),
                     len(PERIODS) - 1)
            x = x @ mats[k]


main()
