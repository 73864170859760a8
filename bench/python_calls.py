#!/usr/bin/env python3
"""Times the Python module's small calls: a 2-state chain made from a numpy array and its
stationary distribution, and the call alone on a chain already made.

Usage: PYTHONPATH=build/release/python /usr/bin/python3 bench/python_calls.py
"""
import timeit

import numpy as np

import pravlin

P = np.array([[0.7, 0.3], [0.4, 0.6]])
chain = pravlin.Chain(P)
for label, stmt in [("Chain(P).stationary()", lambda: pravlin.Chain(P).stationary()),
                    ("chain.stationary()", lambda: chain.stationary())]:
    number = 20000
    best = min(timeit.repeat(stmt, number=number, repeat=5)) / number
    print(f"{label:24s} {best * 1e6:8.1f} us")
