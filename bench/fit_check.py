#!/usr/bin/env python3
"""fit_check.py MODEL.xml SUMMARY.csv - compares a fit (pravlin-fit --sort --summary) of a report
of ser cells with the model that pravlin simulated: every fitted probability lies within 5
standard errors of the true one, sqrt(p (1 - p) / n_i), and the G2 test of the fitted counts
against the true matrix does not reject at 0.001. The true rows are normalised as pravlin does.
Exit status 0 when both hold."""
import csv
import math
import re
import sys


def true_matrix(path):
    text = open(path, encoding="utf-8").read()
    rows = {}
    for block in re.findall(r"<transition>(.*?)</transition>", text, re.S):
        src = int(re.search(r"<from>\s*(\d+)\s*</from>", block).group(1))
        row = rows.setdefault(src, {})
        for to, p in re.findall(r"<to><state>(\d+)</state><probability>([^<]+)</probability>",
                                block):
            row[int(to)] = float(p)
    for row in rows.values():
        total = 0.0
        for j in sorted(row):
            total += row[j]
        for j in row:
            row[j] /= total
    return rows


def main():
    truth = true_matrix(sys.argv[1])
    counts, totals = {}, {}
    for r in csv.DictReader(open(sys.argv[2], encoding="utf-8")):
        if r["item"] == "transition":
            counts[(int(r["from"]), int(r["to"]))] = int(r["count"])
            totals[int(r["from"])] = int(r["total"])
    worst, g2, df = 0.0, 0.0, 0
    for i, row in truth.items():
        n = totals[i]
        for j, p in row.items():
            c = counts.get((i, j), 0)
            se = math.sqrt(p * (1 - p) / n)
            worst = max(worst, abs(c / n - p) / se)
            if c > 0:
                g2 += 2 * c * math.log(c / (n * p))
            df += 1
        df -= 1
    # Wilson-Hilferty: the chi-square quantile, accurate to a fraction of a percent at this df.
    z = 3.090232306167813  # the normal quantile at 0.999
    q = df * (1 - 2 / (9 * df) + z * math.sqrt(2 / (9 * df))) ** 3
    ok = worst <= 5 and g2 <= q
    print(f"round trip: largest |p - p_true| {worst:.2f} standard errors (limit 5); "
          f"G2 {g2:.1f} on {df} df, 0.001 critical value {q:.1f}: {'pass' if ok else 'FAIL'}")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
