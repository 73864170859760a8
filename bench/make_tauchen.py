#!/usr/bin/env python3
"""Writes Tauchen's discretisation of an AR(1) process as a chain for pravlin-analyze.

    /usr/bin/python3 bench/make_tauchen.py STATES FILE [--rho R] [--width M] [--least P]

y' = rho y + e, e ~ N(0, 1): the grid spans M (default 3) of y's standard deviations either side
of 0 in STATES equal steps d, and state i moves to j with the normal probability of the step's
interval around y_j (the ends take the tails). Probabilities below P (default 1e-6) are left
out and each row divided by what remains, so the chain is sparse: at 2000 states and rho 0.99
(the default) some 4 10^5 transitions, one closed class, and eigenvalues near rho^k. The second
largest modulus is about rho, so Arnoldi on P finds the first few in a few dozen products.
Needs numpy and scipy (Debian's python3-numpy, python3-scipy).
"""
import argparse

import numpy as np
from scipy.special import ndtr


def tauchen(n, rho, width, least):
    sd = 1.0 / np.sqrt(1.0 - rho * rho)
    y = np.linspace(-width * sd, width * sd, n)
    d = y[1] - y[0]
    mean = rho * y[:, None]
    upper = ndtr(y[None, :] + d / 2 - mean)
    lower = ndtr(y[None, :] - d / 2 - mean)
    upper[:, -1] = 1.0
    lower[:, 0] = 0.0
    p = upper - lower
    p[p < least] = 0.0
    return p / p.sum(axis=1, keepdims=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("states", type=int)
    ap.add_argument("file")
    ap.add_argument("--rho", type=float, default=0.99)
    ap.add_argument("--width", type=float, default=3.0)
    ap.add_argument("--least", type=float, default=1e-6)
    a = ap.parse_args()
    n = a.states
    p = tauchen(n, a.rho, a.width, a.least)
    with open(a.file, "w", encoding="ascii", newline="\n") as f:
        w = f.write
        w(f"<pravlin><nbr_states>{n}</nbr_states><nbr_years>2</nbr_years><nbr_chains>1</nbr_chains>"
          "<steadystate><calc>no</calc></steadystate>\n")
        w("<state><ser>1</ser><name>s1</name><initial_probability>1</initial_probability></state>\n")
        for i in range(2, n + 1):
            w(f"<state><ser>{i}</ser><name>s{i}</name></state>\n")
        for i in range(n):
            w(f"<transition><from>{i + 1}</from>")
            for j in np.flatnonzero(p[i]):
                w(f"<to><state>{j + 1}</state><probability>{float(p[i, j])!r}</probability></to>")
            w("</transition>\n")
        w("</pravlin>\n")
    print(f"{n} states, {int(np.count_nonzero(p))} transitions")


if __name__ == "__main__":
    main()
