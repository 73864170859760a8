#!/usr/bin/python3
"""Independent numbers for pravlin-analyze's spectral goals, from numpy and scipy (Debian's
python3-numpy and python3-scipy; run with /usr/bin/python3).

    eigen_check.py arpack CHAIN.xml K OUT.json     the K eigenvalues of largest modulus by
                                                      ARPACK (scipy eigs): a reference for R
    eigen_check.py line N                          1 - (1 - cos(pi / N)) / 2, to 20 digits
    eigen_check.py small DIR COUNT SEED            writes COUNT random chains of up to 500
                                                      states into DIR (half of them slowly mixing:
                                                      two blocks joined by moves of 1e-7), each
                                                      with DIR/NAME.json holding numpy's SLEM,
                                                      Kemeny constant and mixing time
    eigen_check.py compare-small DIR               compares pravlin-analyze's JSON
                                                      (DIR/NAME.out.json) with numpy's
    eigen_check.py product DIR COUNT SEED          writes COUNT chains of 10^4 states, each
                                                      the product of two random chains of 100
                                                      (both move at every step), with their exact
                                                      Kemeny constant from the factors' spectra
    eigen_check.py compare-product DIR             counts the intervals that hold it
    eigen_check.py compare-arpack REF.json OUT.json checks SLEM and eigenvalues against ARPACK
    eigen_check.py compare-line N OUT.json         checks the line's SLEM against its form
    eigen_check.py compare-bd CHAIN.xml OUT.json   checks that the Kemeny interval of a
                                                      birth-death chain (kind B) holds its
                                                      closed form
    eigen_check.py eigs CHAIN.xml K TOL OUT.json   times scipy's eigs(P.T, k=K, tol=TOL) on the
                                                      matrix as pravlin-analyze reads it; the
                                                      seconds and eigenvalues into OUT.json
    eigen_check.py compare-eigs CHAIN.xml STAGES EIGS.json LIMIT [REF.json]
                                                   sets the spectrum in analyze_stages's output
                                                      (--eigen K) beside scipy's: within 1.5
                                                      times its time, the same eigenvalues to
                                                      1e-12 (one that ARPACK missed, larger than
                                                      the last it gave, checked by shift-invert
                                                      up to 20000 states); without EIGS.json
                                                      (scipy stopped at LIMIT seconds), against
                                                      REF.json if given

Each compare prints "pass" or "FAIL" with the worst disagreement, and exits 1 on FAIL.
"""
import itertools
import json
import math
import re
import sys

import numpy as np


def read_chain(path):
    """The transition matrix as pravlin-analyze reads it, sparse: each row's entries summed in
    order of destination and divided by their total when it is not exactly 1, then each
    diagonal entry 1 minus the row's others (the analysis works with each state's outflow). On a
    slow chain the answers depend on the last bits of the small entries: a reference must start
    from the same ones."""
    import scipy.sparse as sps
    row = re.compile(r"<transition><from>(\d+)</from>(.*?)</transition>")
    move = re.compile(r"<to><state>(\d+)</state><probability>([^<]*)</probability></to>")
    rows, cols, vals, n = [], [], [], None
    with open(path, encoding="ascii") as f:
        for line in f:
            if n is None:
                m = re.search(r"<nbr_states>(\d+)</nbr_states>", line)
                if m:
                    n = int(m.group(1))
            m = row.search(line)
            if not m:
                continue
            i = int(m.group(1)) - 1
            entries = sorted((int(j) - 1, float(p)) for j, p in move.findall(m.group(2)))
            total = 0.0
            for _, p in entries:
                total += p
            if total != 1.0:
                entries = [(j, p / total) for j, p in entries]
            out = 0.0
            for j, p in entries:
                if j != i:
                    rows.append(i)
                    cols.append(j)
                    vals.append(p)
                    out += p
            rows.append(i)
            cols.append(i)
            vals.append(1.0 - out)
    return sps.csr_matrix((vals, (rows, cols)), shape=(n, n))


def write_chain(path, p):
    """A row-stochastic matrix (dense or scipy sparse) as a pravlin configuration, every
    probability with 17 significant digits."""
    import scipy.sparse as sps
    p = sps.csr_matrix(p)
    p.sort_indices()
    n = p.shape[0]
    with open(path, "w", encoding="ascii", newline="\n") as f:
        w = f.write
        w(f"<pravlin><nbr_states>{n}</nbr_states><nbr_years>2</nbr_years><nbr_chains>1</nbr_chains>"
          "<steadystate><calc>no</calc></steadystate>\n")
        w("<state><ser>1</ser><initial_probability>1</initial_probability></state>\n")
        for i in range(n):
            w(f"<transition><from>{i + 1}</from>")
            for k in range(p.indptr[i], p.indptr[i + 1]):
                if p.data[k] > 0.0:
                    w(f"<to><state>{p.indices[k] + 1}</state>"
                      f"<probability>{float(p.data[k])!r}</probability></to>")
            w("</transition>\n")
        w("</pravlin>\n")


def stationary(p):
    """pi of an irreducible dense chain, by the eigenvector of p' for 1, refined once."""
    w, v = np.linalg.eig(p.T)
    pi = np.real(v[:, np.argmin(np.abs(w - 1.0))])
    pi = pi / pi.sum()
    a = np.eye(len(pi)) - p.T
    a[-1, :] = 1.0
    b = np.zeros(len(pi))
    b[-1] = 1.0
    return np.linalg.solve(a, b)


def kemeny_dense(p, pi):
    """tr(Z) - 1, Z = (I - P + 1 pi')^-1, refined with residuals in long double. The diagonal of
    I - P is each row's outflow: 1 - P_ii would round away digits of a move of 1e-7."""
    n = len(pi)
    off = p.copy()
    np.fill_diagonal(off, 0.0)
    a = np.diag(off.sum(axis=1)) - off + np.outer(np.ones(n), pi)
    z = np.linalg.inv(a)
    al = a.astype(np.longdouble)
    for _ in range(2):
        r = (np.eye(n, dtype=np.longdouble) - al @ z.astype(np.longdouble)).astype(np.float64)
        z = z + z @ r
    return float(np.trace(z) - 1.0)


def mixing_dense(p, pi, eps):
    """The first t with max_i |P^t(i,.) - pi|_TV <= eps, by stepping (t at most 10^7)."""
    if 1.0 - pi.min() <= eps:
        return 0
    m = p.copy()
    for t in range(1, 200):
        if 0.5 * np.abs(m - pi).sum(axis=1).max() <= eps:
            return t
        m = m @ p
    return None


def random_chain(rng, n, slow):
    p = np.zeros((n, n))
    for i in range(n):
        moves = rng.choice(n, size=min(n, 5), replace=False)
        p[i, moves] = rng.random(len(moves)) + 0.01
        p[i, (i + 1) % n] += 0.5
    if slow:
        half = n // 2
        for i in range(n):
            same = range(0, half) if i < half else range(half, n)
            keep = np.zeros(n)
            keep[list(same)] = p[i, list(same)]
            keep[(i + 1) % half if i < half else half + (i + 1 - half) % (n - half)] += 0.5
            p[i] = keep / keep.sum()
            p[i] *= 1.0 - 1e-7
            p[i, (n - 1 - i)] += 1e-7
    return p / p.sum(axis=1, keepdims=True)


def small(directory, count, seed):
    import os
    rng = np.random.default_rng(seed)
    os.makedirs(directory, exist_ok=True)
    for c in range(count):
        n = int(rng.integers(3, 501))
        slow = c % 2 == 1
        p = random_chain(rng, n, slow)
        name = f"chain{c:02d}"
        write_chain(f"{directory}/{name}.xml", p)
        # The matrix as pravlin-analyze reads it: the written digits, divided by their total.
        p = read_chain(f"{directory}/{name}.xml").toarray()
        pi = stationary(p)
        w = np.linalg.eigvals(p)
        w = w[np.argsort(-np.abs(w))]
        slem = float(np.abs(w[1]))
        ref = {"states": n, "slow": slow, "slem": slem, "kemeny": kemeny_dense(p, pi),
               "mixing": mixing_dense(p, pi, 0.25)}
        with open(f"{directory}/{name}.json", "w", encoding="ascii") as f:
            json.dump(ref, f)


def compare_small(directory):
    import glob
    worst_slem = worst_kemeny = 0.0
    bad_mixing = []
    for path in sorted(glob.glob(f"{directory}/chain*.xml")):
        name = path[:-4]
        with open(name + ".json", encoding="ascii") as f:
            ref = json.load(f)
        with open(name + ".out.json", encoding="utf-8") as f:
            doc = json.load(f)
        sp = doc["spectrum"][0]
        worst_slem = max(worst_slem, abs(sp["slem"] - ref["slem"]))
        km = doc["kemeny"]["classes"][0]["constant"]
        worst_kemeny = max(worst_kemeny, abs(km - ref["kemeny"]) / ref["kemeny"])
        mx = doc["mixing"][0]
        if ref["mixing"] is not None and mx["time"] != ref["mixing"]:
            bad_mixing.append(f"{name}: {mx['time']} against {ref['mixing']}")
    ok = worst_slem <= 1e-9 and worst_kemeny <= 1e-9 and not bad_mixing
    print(("pass" if ok else "FAIL") + f": SLEM off by {worst_slem:.1e} at most, Kemeny constant "
          f"by {worst_kemeny:.1e} relative, mixing times {'all equal' if not bad_mixing else bad_mixing}")
    return ok


def product(directory, count, seed):
    import os
    rng = np.random.default_rng(seed)
    os.makedirs(directory, exist_ok=True)
    for c in range(count):
        import scipy.sparse as sps
        a, b = random_chain(rng, 100, False), random_chain(rng, 100, False)
        name = f"product{c:02d}"
        path = f"{directory}/{name}.xml"
        write_chain(path, sps.kron(sps.csr_matrix(a), sps.csr_matrix(b)))
        # The file's rows are the product's to 17 digits, and the Kemeny constant of this fast
        # chain moves by about as little: the factors' spectra give its own.
        la, lb = np.linalg.eigvals(a), np.linalg.eigvals(b)
        mu = np.outer(la, lb).ravel()
        mu = np.delete(mu, np.argmin(np.abs(mu - 1.0)))
        kemeny = float(np.real(np.sum(1.0 / (1.0 - mu))))
        with open(f"{directory}/{name}.json", "w", encoding="ascii") as f:
            json.dump({"kemeny": kemeny}, f)


def compare_product(directory):
    import glob
    held, total, widths = 0, 0, []
    for path in sorted(glob.glob(f"{directory}/product*.xml")):
        name = path[:-4]
        with open(name + ".json", encoding="ascii") as f:
            exact = json.load(f)["kemeny"]
        with open(name + ".out.json", encoding="utf-8") as f:
            km = json.load(f)["kemeny"]["classes"][0]
        total += 1
        held += km["low"] <= exact <= km["high"]
        widths.append((km["high"] - km["low"]) / 2.0 / exact)
    ok = total >= 20 and held >= 19
    print(("pass" if ok else "FAIL") + f": the 95% interval holds the exact constant in {held} of "
          f"{total} chains (half-widths {min(widths):.1e} to {max(widths):.1e} relative)")
    return ok


def arpack(chain, k, out):
    import scipy.sparse.linalg as spl
    p = read_chain(chain)
    w = spl.eigs(p, k=k + 1, which="LM", tol=1e-13, ncv=max(2 * k + 3, 60),
                 return_eigenvectors=False)
    w = sorted(w, key=lambda z: (-abs(z), -z.real, -z.imag))
    with open(out, "w", encoding="ascii") as f:
        json.dump([[z.real, z.imag] for z in w], f)


def compare_arpack(ref_path, out_path):
    with open(ref_path, encoding="ascii") as f:
        ref = [complex(a, b) for a, b in json.load(f)]
    with open(out_path, encoding="utf-8") as f:
        sp = json.load(f)["spectrum"][0]
    got = [complex(e["real"], e["imaginary"]) for e in sp["eigenvalues"]]
    slem_off = abs(sp["slem"] - abs(ref[1]))
    worst = max(min(abs(g - r) for r in ref) for g in got)
    ok = slem_off <= 1e-8 and worst <= 1e-8
    print(("pass" if ok else "FAIL") + f": SLEM off the ARPACK reference by {slem_off:.1e}, "
          f"eigenvalues by {worst:.1e} at most")
    return ok


def compare_line(n, out_path):
    with open(out_path, encoding="utf-8") as f:
        sp = json.load(f)["spectrum"][0]
    gap = math.sin(math.pi / (2 * n)) ** 2  # (1 - cos(pi / n)) / 2 without cancellation
    slem_off = abs(sp["slem"] - (1.0 - gap))
    gap_off = abs(sp["spectral_gap"] - gap) / gap
    ok = slem_off <= 1e-12
    print(("pass" if ok else "FAIL") + f": SLEM off 1 - (1 - cos(pi/n))/2 by {slem_off:.1e}, "
          f"the gap {gap:.6e} by {gap_off:.1e} relative")
    return ok


def compare_bd(chain, out_path):
    """The Kemeny constant of a birth-death chain of make_chain.py (kind B) from its closed form,
    K = sum over k of F_k (1 - F_k) / (p_k pi_k), F_k = pi_1 + ... + pi_k: the passage from k to
    k + 1 takes F_k / (p_k pi_k) steps on average. pi in logarithms, sums exactly rounded."""
    sys.path.insert(0, __file__.rsplit("/", 1)[0])
    from check_goals import birth_death_moves
    up, down = birth_death_moves(chain)
    n = max(max(up), max(down))
    log = [0.0] * (n + 1)
    for i in range(2, n + 1):
        log[i] = log[i - 1] + math.log(up[i - 1] / down[i])
    top = max(log[1:])
    w = [0.0] + [math.exp(v - top) for v in log[1:]]
    total = math.fsum(w[1:])
    pi = [x / total for x in w]
    head = list(itertools.accumulate(pi, func=lambda a, b: math.fsum([a, b])))
    tail = [0.0] * (n + 2)
    for k in range(n - 1, 0, -1):
        tail[k] = math.fsum([tail[k + 1], pi[k + 1]])
    kemeny = math.fsum(head[k] * tail[k] / (up[k] * pi[k]) for k in range(1, n))
    with open(out_path, encoding="utf-8") as f:
        km = json.load(f)["kemeny"]["classes"][0]
    ok = km["low"] <= kemeny <= km["high"]
    print(("pass" if ok else "FAIL") + f": B's Kemeny constant {kemeny:.10e} (closed form) lies "
          f"{'within' if ok else 'outside'} the interval {km['low']:.10e} to {km['high']:.10e}")
    return ok


def eigs(chain, k, tol, out):
    import time
    import scipy.sparse.linalg as spl
    pt = read_chain(chain).T.tocsr()
    wall, cpu = time.perf_counter(), time.process_time()
    w = spl.eigs(pt, k=k, which="LM", tol=tol, return_eigenvectors=False)
    wall, cpu = time.perf_counter() - wall, time.process_time() - cpu
    w = sorted(w, key=lambda z: (-abs(z), -z.real, -z.imag))
    with open(out, "w", encoding="ascii") as f:
        json.dump({"seconds": wall, "cpu": cpu, "values": [[z.real, z.imag] for z in w]}, f)


def read_stages(path):
    """The spectrum's wall and CPU seconds, method and eigenvalues from analyze_stages."""
    values, head = [], None
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"spectrum of class \d+ .*: ([0-9.]+) s, ([0-9.]+) s CPU, (.*)$", line)
            if m:
                head = (float(m.group(1)), float(m.group(2)), m.group(3))
            elif head is not None and line.startswith("  ") and "not found" not in line:
                re_, im = line.split()
                values.append(complex(float(re_), float(im)))
    return head, values


def chain_states(chain):
    with open(chain, encoding="ascii") as f:
        return int(re.search(r"<nbr_states>(\d+)</nbr_states>", f.read(4096)).group(1))


def shift_invert(chain, sigma):
    """The eigenvalue of P nearest sigma, by ARPACK in shift-invert mode on the complex matrix
    (minutes on R at 10^4 for the LU's fill): kept in bench/out/shift-invert.json by chain and
    sigma, for the next run on the same chain."""
    import hashlib
    import os
    import scipy.sparse.linalg as spl
    with open(chain, "rb") as f:
        key = hashlib.md5(f.read()).hexdigest() + f" {sigma.real!r} {sigma.imag!r}"
    kept_path = os.path.join(os.path.dirname(chain), "shift-invert.json")
    kept = {}
    if os.path.exists(kept_path):
        with open(kept_path, encoding="ascii") as f:
            kept = json.load(f)
    if key not in kept:
        p = read_chain(chain).T.tocsc().astype(complex)
        w = spl.eigs(p, k=1, sigma=sigma, tol=1e-14, return_eigenvectors=False)
        kept[key] = [float(w[0].real), float(w[0].imag)]
        with open(kept_path, "w", encoding="ascii") as f:
            json.dump(kept, f)
    return complex(*kept[key])


def compare_eigs(chain, stages, eigs_path, limit, ref_path=None):
    """Each of pravlin's eigenvalues against the nearest of the peer's and their conjugates (a
    pair may be cut at the k-th)."""
    head, got = read_stages(stages)
    if head is None:
        print("FAIL: no spectrum in " + stages)
        return False
    wall, cpu, method = head
    ref, took, peer_cpu = None, None, None
    try:
        with open(eigs_path, encoding="ascii") as f:
            peer = json.load(f)
        ref = [complex(a, b) for a, b in peer["values"]]
        took, peer_cpu = peer["seconds"], peer["cpu"]
    except (OSError, ValueError):
        if ref_path:
            with open(ref_path, encoding="ascii") as f:
                ref = [complex(a, b) for a, b in json.load(f)]
    worst, confirmed = None, []
    if ref:
        near = ref + [z.conjugate() for z in ref]
        off = [(min(abs(g - r) for r in near), g) for g in got]
        # One ARPACK missed: larger in modulus than the last it gave, checked by shift-invert at
        # it (a sparse LU, affordable up to some 10^4 states).
        least = min(abs(r) for r in ref)
        for i, (d, g) in enumerate(off):
            if d > 1e-12 and abs(g) > least and chain_states(chain) <= 20000:
                mu = shift_invert(chain, g)
                if abs(mu - g) <= 1e-12:
                    confirmed.append(f"{g.real:.6f}{g.imag:+.6f}i, which shift-invert finds "
                                     f"to {abs(mu - g):.1e}")
                    off[i] = (abs(mu - g), g)
        worst = max(d for d, _ in off)
    if took is not None:
        ratio = wall / took
        time_ok = ratio <= 1.5
        timing = (f"{wall:.3f} s ({cpu:.3f} s CPU) against scipy's {took:.3f} s ({peer_cpu:.3f} s "
                  f"CPU): {ratio:.2f}x")
    else:
        time_ok = wall * 1.5 <= limit
        timing = f"{wall:.3f} s ({cpu:.3f} s CPU); scipy not done within {limit:g} s"
    same = worst is not None and worst <= 1e-12
    agree = (f"eigenvalues off {'ARPACK' if took is None else 'scipy'}'s by {worst:.1e} at most"
             if worst is not None else "no reference to compare with")
    if confirmed:
        agree += "; beyond those ARPACK gave, " + ", ".join(confirmed)
    print(("pass" if time_ok else "FAIL") + " time, " + ("pass" if same else "FAIL") +
          f" values: {timing}; {agree} ({method})")
    return time_ok and same


def main():
    what = sys.argv[1]
    ok = True
    if what == "arpack":
        arpack(sys.argv[2], int(sys.argv[3]), sys.argv[4])
    elif what == "line":
        print(repr(1.0 - math.sin(math.pi / (2 * int(sys.argv[2]))) ** 2))
    elif what == "small":
        small(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif what == "compare-small":
        ok = compare_small(sys.argv[2])
    elif what == "product":
        product(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    elif what == "compare-product":
        ok = compare_product(sys.argv[2])
    elif what == "compare-arpack":
        ok = compare_arpack(sys.argv[2], sys.argv[3])
    elif what == "compare-line":
        ok = compare_line(int(sys.argv[2]), sys.argv[3])
    elif what == "compare-bd":
        ok = compare_bd(sys.argv[2], sys.argv[3])
    elif what == "eigs":
        eigs(sys.argv[2], int(sys.argv[3]), float(sys.argv[4]), sys.argv[5])
    elif what == "compare-eigs":
        ok = compare_eigs(sys.argv[2], sys.argv[3], sys.argv[4], float(sys.argv[5]),
                          sys.argv[6] if len(sys.argv) > 6 else None)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
