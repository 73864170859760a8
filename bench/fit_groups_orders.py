#!/usr/bin/env python3
"""fit_groups_orders.py FIT [SETS] - pravlin-fit's group test, order-K fits and order selection
against an independent computation in plain Python, on SETS random data sets (default 20):
every G2, degree of freedom, p-value, log-likelihood, AIC, BIC and tuple probability agrees to
1e-9 (relative where the number is above 1). Exit status 0 when all do."""
import csv
import math
import os
import random
import subprocess
import sys
import tempfile
from collections import defaultdict

TOL = 1e-9


def close(a, b):
    return abs(a - b) <= TOL * max(1.0, abs(a), abs(b))


def upper_gamma_q(a, x):
    """Regularised upper incomplete gamma Q(a, x) (Numerical Recipes' series and fraction)."""
    if x <= 0:
        return 1.0
    lg = math.lgamma(a)
    if x < a + 1:
        term = total = 1.0 / a
        ap = a
        for _ in range(100000):
            ap += 1
            term *= x / ap
            total += term
            if abs(term) < abs(total) * 1e-17:
                break
        return 1.0 - total * math.exp(-x + a * math.log(x) - lg)
    b = x + 1 - a
    c = 1e300
    d = 1 / b
    h = d
    for i in range(1, 100000):
        an = -i * (i - a)
        b += 2
        d = an * d + b
        d = 1e-300 if abs(d) < 1e-300 else d
        c = b + an / c
        c = 1e-300 if abs(c) < 1e-300 else c
        d = 1 / d
        delta = d * c
        h *= delta
        if abs(delta - 1) < 1e-17:
            break
    return math.exp(-x + a * math.log(x) - lg) * h


def chi2_p(g2, df):
    return 1.0 if df <= 0 else upper_gamma_q(df / 2.0, max(0.0, g2) / 2.0)


def conditional_g2(cells):
    """cells[(a, b, c)] = n: G2 of a and c independent given b, df over observed rows/cols."""
    ab, bc, b_tot = defaultdict(int), defaultdict(int), defaultdict(int)
    for (a, b, c), n in cells.items():
        ab[a, b] += n
        bc[b, c] += n
        b_tot[b] += n
    g2 = 2 * sum(n * math.log(n * b_tot[b] / (ab[a, b] * bc[b, c])) for (a, b, c), n in cells.items())
    rows, cols = defaultdict(set), defaultdict(set)
    for a, b in ab:
        rows[b].add(a)
    for b, c in bc:
        cols[b].add(c)
    df = sum((len(rows[b]) - 1) * (len(cols[b]) - 1) for b in b_tot)
    return g2, df


def summary(fit, args):
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "s.csv")
        subprocess.run([fit, *args, "--summary", out, "-o", os.devnull], check=True)
        return list(csv.DictReader(open(out, encoding="utf-8")))


def check_groups(fit, rng, tmp, failures):
    labels = "abcde"[: rng.randint(2, 5)]
    files, cells = [], defaultdict(int)
    for g in range(rng.randint(2, 4)):
        path = os.path.join(tmp, f"g{g}.txt")
        with open(path, "w") as f:
            for _ in range(rng.randint(1, 4)):
                seq = [rng.choice(labels[: rng.randint(2, len(labels))]) for _ in range(rng.randint(2, 60))]
                f.write(" ".join(seq) + "\n")
                for x, y in zip(seq, seq[1:]):
                    cells[g, x, y] += 1
        files.append(path)
    rows = summary(fit, ["--groups", "--test", *files])
    got = next(r for r in rows if r["item"] == "group_test")
    g2, df = conditional_g2(cells)
    if not (close(float(got["value"]), g2) and int(got["df"]) == df and close(float(got["p_value"]), chi2_p(g2, df))):
        failures.append(f"groups: {got['value']} df {got['df']} p {got['p_value']}, python {g2} df {df} p {chi2_p(g2, df)}")


def windows(seqs, k):
    for seq in seqs:
        for t in range(k, len(seq)):
            yield tuple(seq[t - k:t]), seq[t]


def check_orders(fit, rng, tmp, failures):
    labels = "abc"
    k = rng.randint(2, 3)
    probs = {ctx: [rng.random() ** 2 for _ in labels] for ctx in __import__("itertools").product(labels, repeat=k)}
    seqs = []
    for _ in range(rng.randint(1, 5)):
        seq = [rng.choice(labels) for _ in range(k)]
        for _ in range(rng.randint(10, 300)):
            seq.append(rng.choices(labels, probs[tuple(seq[-k:])])[0])
        seqs.append(seq)
    path = os.path.join(tmp, "o.txt")
    with open(path, "w") as f:
        f.write("".join(" ".join(s) + "\n" for s in seqs))
    # The K-th order fit: each tuple's row.
    rows = summary(fit, ["--order", str(k), path])
    n, tot = defaultdict(int), defaultdict(int)
    for ctx, y in windows(seqs, k):
        n[ctx, y] += 1
        tot[ctx] += 1
    for r in rows:
        if r["item"] == "transition" and int(r["count"]) > 0:
            ctx = tuple(r["from"].split("|"))
            y = r["to"].split("|")[-1]
            if not close(float(r["value"]), n[ctx, y] / tot[ctx]):
                failures.append(f"order {k}: {r['from']} -> {r['to']} {r['value']}, python {n[ctx, y] / tot[ctx]}")
    ll = sum(c * math.log(c / tot[ctx]) for (ctx, y), c in n.items())
    got = float(next(r for r in rows if r["item"] == "log_likelihood")["value"])
    if not close(got, ll):
        failures.append(f"order {k}: log-likelihood {got}, python {ll}")
    # Orders 0..K on the observations after the first K of each sequence.
    rows = summary(fit, ["--select-order", str(k), path])
    m = len({x for s in seqs for x in s})
    nobs = sum(len(s) - k for s in seqs)
    for r in range(k + 1):
        n, tot = defaultdict(int), defaultdict(int)
        for seq in seqs:
            for t in range(k, len(seq)):
                ctx = tuple(seq[t - r:t])
                n[ctx, seq[t]] += 1
                tot[ctx] += 1
        ll = sum(c * math.log(c / tot[ctx]) for (ctx, y), c in n.items())
        par = m ** r * (m - 1)
        want = {"order_log_likelihood": ll, "order_aic": 2 * par - 2 * ll, "order_bic": par * math.log(nobs) - 2 * ll}
        for item, value in want.items():
            got = next(x for x in rows if x["item"] == item and int(x["count"]) == r)
            if not close(float(got["value"]), value):
                failures.append(f"select-order {k}, order {r}: {item} {got['value']}, python {value}")
        if r < k:
            cells = defaultdict(int)
            for seq in seqs:
                for t in range(k, len(seq)):
                    cells[seq[t - r - 1], tuple(seq[t - r:t]), seq[t]] += 1
            g2, df = conditional_g2(cells)
            got = next(x for x in rows if x["item"] == "order_test" and int(x["count"]) == r)
            if not (close(float(got["value"]), g2) and int(got["df"]) == df and close(float(got["p_value"]), chi2_p(g2, df))):
                failures.append(f"select-order {k}, order {r} against {r + 1}: {got['value']} df {got['df']}, python {g2} df {df}")


def main():
    fit = sys.argv[1]
    sets = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    rng = random.Random(29)
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        for _ in range(sets):
            check_groups(fit, rng, tmp, failures)
            check_orders(fit, rng, tmp, failures)
    for f in failures[:20]:
        print(f)
    print(f"{sets} group tests and {sets} order fits and selections: {len(failures)} disagreements beyond {TOL}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
