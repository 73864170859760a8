#!/usr/bin/python3
# horizon_numpy.py - the path of pravlin-analyze --horizon by numpy's dense loop x_{t+1} = x_t P,
# on a chain of 50 states of which two absorb slowly, to step 1000.
# Usage: horizon_numpy.py [--fixture] (--fixture: write tests/analyze/analyze_horizon_numpy.txt,
# which tests/analyze/analyze_horizon_test.cc reads; else print it).
# Part of pravlin; see README.md.
import os
import sys

import numpy as np

N = 50
STEPS = 1000
CHECKS = [0, 1, 2, 10, 100, 999, 1000]
DISCOUNT = 0.03


def chain(rng):
    p = np.zeros((N, N))
    for i in range(N - 2):
        cols = rng.choice(N - 2, size=6, replace=False)
        p[i, cols] = rng.random(6)
        p[i] /= p[i].sum()
        # a slow leak into the two absorbing states
        leak = 0.002 * rng.random(2)
        p[i] *= 1.0 - leak.sum()
        p[i, N - 2:] = leak
    p[N - 2, N - 2] = 1.0
    p[N - 1, N - 1] = 1.0
    return p


def main():
    rng = np.random.default_rng(38)
    p = chain(rng)
    x0 = rng.random(N)
    x0[N - 2:] = 0.0
    x0 /= x0.sum()
    v = rng.random(N) * 10.0
    lines = [
        "# analyze_horizon_numpy.txt - written by bench/horizon_numpy.py --fixture from numpy's",
        "# dense loop x_{t+1} = x_t P; tests/analyze/analyze_horizon_test.cc reads it.",
        "# States 1-based. chain N / p I J P / initial I P / value I V / discount R, then at",
        "# each step T listed: x T I P, spent T I S (sum of x_0..x_T), total T PLAIN DISCOUNTED",
        "# (the values summed over steps 0..T, without and with the factor 1/(1 + R)^t).",
        "chain %d" % N,
    ]
    for i in range(N):
        for j in range(N):
            if p[i, j] > 0.0:
                lines.append("p %d %d %r" % (i + 1, j + 1, float(p[i, j])))
    lines += ["initial %d %r" % (i + 1, float(x0[i])) for i in range(N)]
    lines += ["value %d %r" % (i + 1, float(v[i])) for i in range(N)]
    lines.append("discount %r" % DISCOUNT)
    x = x0.copy()
    spent = np.zeros(N)
    plain = 0.0
    discounted = 0.0
    for t in range(STEPS + 1):
        if t > 0:
            x = x @ p
        spent += x
        value = float(x @ v)
        plain += value
        discounted += value / (1.0 + DISCOUNT) ** t
        if t in CHECKS:
            lines += ["x %d %d %r" % (t, i + 1, float(x[i])) for i in range(N)]
            lines += ["spent %d %d %r" % (t, i + 1, float(spent[i])) for i in range(N)]
            lines.append("total %d %r %r" % (t, plain, discounted))
    text = "\n".join(lines) + "\n"
    if "--fixture" in sys.argv[1:]:
        here = os.path.dirname(os.path.abspath(__file__))
        with open(os.path.join(here, "..", "tests", "analyze", "analyze_horizon_numpy.txt"),
                  "w") as f:
            f.write(text)
    else:
        sys.stdout.write(text)


if __name__ == "__main__":
    main()
