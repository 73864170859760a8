#!/usr/bin/env python3
"""The Python module on large chains, beside pravlin-analyze and scipy in the same run.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/python_scale.py [BUILD_DIR]
        [--states N] [--eigen-states M] [--scipy-limit S]

1. The chain R of bench/make_chain.py at N states (default 10^6), built as a scipy csr matrix
   (bench/scipy_products.py's r_chain: the same draws, so the same chain): the time of
   pravlin.Chain(P) (the copy into the library's rows) and of chain.stationary(), beside
   pravlin-analyze's solve of the same chain from its file ("classes and stationary
   distributions" of BUILD_DIR/analyze_stages, built by name; default build/release).
2. R at M states (default 10^5): chain.spectrum(6), beside scipy's eigs(P.T, k=6, which="LM",
   tol=1e-10) on the same csr matrix, run in a process of its own that is stopped after S
   seconds (default 120); the line then says that the limit was hit.
The chain files are written into bench/out/ once. Needs numpy and scipy (Debian's
python3-numpy, python3-scipy); prints the CPU, its flags and the load first.
"""
import argparse
import multiprocessing
import os
import re
import subprocess
import sys
import time
import warnings

import numpy as np

import pravlin

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scipy_products import r_chain  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))


def machine():
    cpu = flags = "?"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name") and cpu == "?":
                cpu = line.split(":", 1)[1].strip()
            if line.startswith("flags") and flags == "?":
                have = line.split(":", 1)[1].split()
                flags = " ".join(x for x in ("avx512f", "avx2") if x in have) or "neither"
    return f"{cpu}; avx512f/avx2: {flags}; load {' '.join(open('/proc/loadavg').read().split()[:3])}"


def timed(f):
    start = time.perf_counter()
    value = f()
    return value, time.perf_counter() - start


def chain_file(n):
    path = os.path.join(HERE, "out", f"chain-R-{n}.xml")
    if not os.path.exists(path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_chain.py"), "R", str(n), path],
                       check=True)
    return path


def analyze_solve(build, n):
    """pravlin-analyze's seconds for the classes and stationary distributions, beyond reading."""
    subprocess.run(["cmake", "--build", build, "--target", "analyze_stages"], check=True,
                   stdout=subprocess.DEVNULL)
    out = subprocess.run([os.path.join(build, "analyze_stages"), chain_file(n)], check=True,
                         capture_output=True, text=True).stdout
    read = re.search(r"^read: ([0-9.]+) s", out, re.M)
    solve = re.search(r"^classes and stationary distributions: ([0-9.]+) s", out, re.M)
    return float(read.group(1)), float(solve.group(1))


def scipy_eigs(p, k, answer):
    from scipy.sparse.linalg import eigs
    start = time.perf_counter()
    values = eigs(p.T.tocsr(), k=k, which="LM", tol=1e-10, return_eigenvectors=False)
    answer.put((time.perf_counter() - start, sorted(values, key=abs, reverse=True)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("build", nargs="?", default="build/release")
    ap.add_argument("--states", type=int, default=1000000)
    ap.add_argument("--eigen-states", type=int, default=100000)
    ap.add_argument("--scipy-limit", type=float, default=120.0)
    a = ap.parse_args()
    print(machine())
    # R's rows, each divided by its total, add up to 1 only to within rounding: the library
    # rescales them with a warning each, as pravlin-analyze does reading the file.
    warnings.simplefilter("ignore", pravlin.PravlinWarning)

    n = a.states
    p, built = timed(lambda: r_chain(n, 1))
    print(f"R at {n} states: csr built in {built:.1f} s, {p.nnz} transitions")
    chain, copy = timed(lambda: pravlin.Chain(p))
    st, solve = timed(chain.stationary)
    print(f"module: Chain(P) {copy:.2f} s, stationary() {solve:.2f} s "
          f"({st.method[0]}, residual {st.residual[0]:.1e}), both {copy + solve:.2f} s")
    read, analyze = analyze_solve(a.build, n)
    print(f"pravlin-analyze: read {read:.2f} s, classes and stationary {analyze:.2f} s; "
          f"module less that solve: {copy + solve - analyze:+.2f} s")
    del chain, p

    m = a.eigen_states
    p = r_chain(m, 1)
    chain = pravlin.Chain(p)
    spectra, own = timed(lambda: chain.spectrum(6))
    ours = spectra[0].eigenvalues
    print(f"R at {m} states, six eigenvalues: module spectrum(6) {own:.2f} s "
          f"({spectra[0].method}), |lambda_2| {abs(ours[1]):.17g}")
    answer = multiprocessing.Queue()
    worker = multiprocessing.Process(target=scipy_eigs, args=(p, 6, answer))
    start = time.perf_counter()
    worker.start()
    worker.join(a.scipy_limit)
    if worker.is_alive():
        worker.terminate()
        worker.join()
        print(f"scipy eigs: not done within the limit of {a.scipy_limit:.0f} s (stopped)")
        return
    if answer.empty():
        print(f"scipy eigs: failed after {time.perf_counter() - start:.1f} s")
        return
    took, theirs = answer.get()
    agree = np.max(np.abs(np.abs(np.array(theirs)) - np.abs(ours)))
    print(f"scipy eigs: {took:.2f} s, |lambda_2| {abs(theirs[1]):.17g}; "
          f"moduli differ by {agree:.1e} at most")


if __name__ == "__main__":
    main()
