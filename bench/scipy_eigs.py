#!/usr/bin/env python3
"""scipy's eigs (ARPACK) on a chain file of pravlin's, for pravlin-analyze --eigen K beside it.

    /usr/bin/python3 bench/scipy_eigs.py FILE [K] [TOL]

Reads the transitions of FILE (as bench/make_chain.py and bench/make_tauchen.py write them),
divides each row by its total as pravlin's reader does, and prints the time of
eigs(P.T, k=K, which="LM", tol=TOL) (default K 6, TOL 1e-10, pravlin's Krylov tolerance) and
the eigenvalues by decreasing modulus, 17 digits. Needs python3-numpy and python3-scipy.
"""
import re
import sys
import time

import numpy as np
import scipy.sparse as sp
from scipy.sparse.linalg import eigs


def main():
    path = sys.argv[1]
    k = int(sys.argv[2]) if len(sys.argv) > 2 else 6
    tol = float(sys.argv[3]) if len(sys.argv) > 3 else 1e-10
    text = open(path, encoding="ascii").read()
    n = int(re.search(r"<nbr_states>(\d+)</nbr_states>", text).group(1))
    rows, cols, vals = [], [], []
    for t in re.finditer(r"<transition><from>(\d+)</from>(.*?)</transition>", text):
        i = int(t.group(1)) - 1
        for to in re.finditer(r"<state>(\d+)</state><probability>([^<]+)</probability>", t.group(2)):
            rows.append(i)
            cols.append(int(to.group(1)) - 1)
            vals.append(float(to.group(2)))
    p = sp.csr_matrix((vals, (rows, cols)), shape=(n, n))
    p = sp.diags(1.0 / np.asarray(p.sum(axis=1)).ravel()) @ p
    pt = p.T.tocsr()
    start = time.perf_counter()
    w = eigs(pt, k=k, which="LM", tol=tol, return_eigenvectors=False)
    took = time.perf_counter() - start
    w = sorted(w, key=lambda z: -abs(z))
    print(f"scipy eigs k={k} tol={tol:g}: {took:.3f} s, {p.nnz} transitions")
    for z in w:
        print(f"  {z.real:.17g} {z.imag:.17g}")


if __name__ == "__main__":
    main()
