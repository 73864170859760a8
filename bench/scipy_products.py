#!/usr/bin/env python3
"""scipy's figures beside pravlin-analyze's products on the chain R of bench/make_chain.py.

    /usr/bin/python3 bench/scipy_products.py STATES [RESIDUAL] [SEED]

Builds R as make_chain.py does (the same random draws, so the same chain, without the file) as
a scipy csr matrix P, then prints, each the least of 15 runs, on one core:
    scipy P.T @ x: <ms> ms            (P csr, so P.T is csc: a scatter over the columns)
    scipy csr(P.T) @ x: <ms> ms       (P.T made csr once: a gather by rows, as pravlin's)
and the plain power iteration pi <- P.T pi from the uniform distribution until the residual
|pi P - pi|_1 is at most RESIDUAL (default 1e-12) or 500 products have been taken:
    scipy power iteration: <k> products, <s> s, residual <r>
Needs numpy and scipy (Debian's python3-numpy, python3-scipy).
"""
import random
import sys
import time

import numpy as np
import scipy.sparse as sp


def r_chain(n, seed):
    rng = random.Random(seed)
    rows, cols, vals = [], [], []
    for i in range(1, n + 1):
        moves = {i % n + 1: rng.random() + 0.01}
        for _ in range(4):
            j = rng.randint(1, n)
            moves[j] = moves.get(j, 0.0) + rng.random() + 0.01
        total = sum(moves.values())
        for j, p in moves.items():
            rows.append(i - 1)
            cols.append(j - 1)
            vals.append(p / total)
    p = sp.csr_matrix((np.array(vals), (np.array(rows), np.array(cols))), shape=(n, n))
    p.sort_indices()
    return p


def least_ms(f, times=15):
    best = float("inf")
    for _ in range(times):
        start = time.perf_counter()
        f()
        best = min(best, time.perf_counter() - start)
    return best * 1e3


def main():
    n = int(sys.argv[1])
    goal = float(sys.argv[2]) if len(sys.argv) > 2 else 1e-12
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 1
    p = r_chain(n, seed)
    pt = p.T.tocsr()
    x = np.full(n, 1.0 / n)
    print(f"scipy P.T @ x: {least_ms(lambda: p.T @ x):.2f} ms")
    print(f"scipy csr(P.T) @ x: {least_ms(lambda: pt @ x):.2f} ms")
    pi = np.full(n, 1.0 / n)
    start = time.perf_counter()
    products, residual = 0, float("inf")
    while products < 500:
        nxt = pt @ pi
        products += 1
        residual = float(np.abs(nxt - pi).sum())
        pi = nxt
        if residual <= goal:
            break
    print(f"scipy power iteration: {products} products, {time.perf_counter() - start:.3f} s, "
          f"residual {residual:.1e}")


if __name__ == "__main__":
    main()
