#!/usr/bin/env python3
"""Builds a chain in Python, analyses it with pravlin, and plots its stationary distribution.

Usage: python_weather.py [PLOT.png]

The chain is the weather example with a third state, "fog", made from a scipy.sparse matrix. The
plot is written with matplotlib where it is installed, and skipped otherwise. The module is
found as installed, or from a build tree with PYTHONPATH=build/release/python.
"""
import sys

import numpy as np
import scipy.sparse as sparse

import pravlin

names = ["dry", "wet", "fog"]
P = sparse.csr_matrix(np.array([[0.625, 0.25, 0.125],
                                [0.375, 0.5, 0.125],
                                [0.5, 0.25, 0.25]]))
chain = pravlin.Chain(P, names=names, values=[0, 1, 0.5], initial=[1, 0, 0])

classes = chain.classes()
print(f"{len(classes.classes)} class(es), periods {list(classes.period)}")
stationary = chain.stationary()
pi = stationary.distribution[0]
print("stationary:", ", ".join(f"{n} {p:.6f}" for n, p in zip(names, pi)),
      f"({stationary.method[0]})")
print("after 3 days from dry:", np.round(chain.distribution(3), 6))
print("days until the first fog, from each state:", np.round(chain.hitting(2).steps, 6))
print("Kemeny constant:", chain.kemeny()[0].constant)

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no plot")
    sys.exit(0)
out = sys.argv[1] if len(sys.argv) > 1 else "stationary.png"
fig, ax = plt.subplots(figsize=(4, 3))
ax.bar(names, pi)
ax.set_ylabel("stationary probability")
fig.tight_layout()
fig.savefig(out)
print("plot:", out)
