#!/usr/bin/python3
"""Checks pravlin-analyze's entropy rate, reversibility, committor, first passage, rewards and
lumping against an independent dense computation with numpy, on random chains.

    bench/check_analyses.py ANALYZE [--fixture FILE]

The chains (seeded, so every run sees the same ones), up to 500 states each:
  random      one class, every state moving to 1 + 4 random states;
  slow        two random clusters joined by moves of 1e-7: the second eigenvalue within 1e-6
              of 1, the systems near singular;
  absorbing   random transient states leaking into 3 closed classes (one a single state);
  reversible  symmetric weights w_ij = w_ji, each row divided by its total.
Every state has a random value in -1..2, the initial probabilities are random, and each chain
is analysed with --steps, --target, --passage, --committor and --lump value. The numbers must
agree to 1e-9, relative to the larger of 1 and the number itself; the reversibility verdict and
the lumping's largest violation (to 1e-12) too. Prints "pass" or "FAIL" with the largest
difference for each analysis; exits 1 on any FAIL.

With --fixture FILE it writes instead, for the unit tests, a few small chains and every number
numpy gives for them (tests/analyze/analyze_numpy.txt), so that the tests need neither numpy nor this
script.
"""
import json
import os
import subprocess
import sys
import tempfile

import numpy as np

TOLERANCE = 1e-9


def reachability(p):
    """r[i, j]: j can be reached from i in zero or more steps."""
    n = len(p)
    r = (p > 0) | np.eye(n, dtype=bool)
    while True:
        r2 = (r.astype(np.float64) @ r.astype(np.float64)) > 0
        if (r2 == r).all():
            return r
        r = r2


def closed_classes(p):
    """Each closed class as a sorted list of states (0-based), in order of its lowest state."""
    r = reachability(p)
    seen, classes = set(), []
    for i in range(len(p)):
        if i in seen:
            continue
        members = [j for j in range(len(p)) if r[i, j] and r[j, i]]
        seen.update(members)
        if all(r[j, i] for j in range(len(p)) if r[i, j]):
            classes.append(members)
    return classes


def minus_q(p, states):
    """I - Q over the states, Q the moves among them, in long double. The diagonal is each
    state's outflow, a sum of positive terms: 1 - p_ii, or any sum rounded to double, would
    lose the 1e-7 that a slow chain's state leaks by, and with it nine digits of the answer."""
    q = -p[np.ix_(states, states)].astype(np.longdouble)
    leave = p[states].astype(np.longdouble)
    leave[np.arange(len(states)), states] = 0.0
    np.fill_diagonal(q, leave.sum(axis=1))
    return q


def solve_ld(a, b):
    """a x = b by Gaussian elimination with partial pivoting in long double (numpy's own
    solvers stop at double): some 1e-10 on a system conditioned as badly as 1e9."""
    a = a.astype(np.longdouble)
    b = np.asarray(b).astype(np.longdouble)
    n = len(a)
    for k in range(n):
        piv = k + int(np.argmax(np.abs(a[k:, k])))
        if piv != k:
            a[[k, piv]] = a[[piv, k]]
            b[[k, piv]] = b[[piv, k]]
        f = a[k + 1:, k] / a[k, k]
        a[k + 1:, k:] -= np.outer(f, a[k, k:])
        b[k + 1:] -= f * b[k]
    x = np.zeros(n, dtype=np.longdouble)
    for k in range(n - 1, -1, -1):
        x[k] = (b[k] - a[k, k + 1:] @ x[k + 1:]) / a[k, k]
    return x.astype(np.float64)


def stationary(p, members):
    """pi on a closed class: pi (I - P) = 0, total 1."""
    m = len(members)
    a = minus_q(p, members).T
    a[-1, :] = 1.0
    b = np.zeros(m)
    b[-1] = 1.0
    return solve_ld(a, b)


def reaches(p, goal, stop):
    """States that reach goal without passing through another state of stop."""
    n = len(p)
    got = set(goal)
    changed = True
    while changed:
        changed = False
        for i in range(n):
            if i in got or i in stop:
                continue
            if any(p[i, j] > 0 and j in got for j in range(n)):
                got.add(i)
                changed = True
    return got


def certain(p, goal, stop):
    """States outside stop that reach goal with probability 1: everything they can get to
    before stopping can still reach goal, and they never stop outside goal."""
    n = len(p)
    can = reaches(p, goal, stop)
    out = set()
    for i in range(n):
        if i in stop:
            continue
        seen, todo, ok = {i}, [i], True
        while todo and ok:
            u = todo.pop()
            if u not in can or (u in stop and u not in goal):
                ok = False
                break
            if u in stop:
                continue
            for v in np.nonzero(p[u])[0]:
                v = int(v)
                if v not in seen:
                    seen.add(v)
                    todo.append(v)
        if ok:
            out.add(i)
    return out


def reference(case):
    """Every number the analysis prints, from numpy."""
    p, v, x0 = case["p"], case["values"], case["initial"]
    n = len(p)
    out = {"entropy": [], "reversible": [], "violation": [], "long_run": []}
    pi_all = np.zeros(n)
    for members in closed_classes(p):
        pi = stationary(p, members) if len(members) > 1 else np.ones(1)
        pi_all[members] = pi
        q = p[np.ix_(members, members)]
        with np.errstate(divide="ignore", invalid="ignore"):
            h = -np.where(q > 0, q * np.log(q), 0.0).sum(axis=1)
        out["entropy"].append(float(pi @ h))
        flow = pi[:, None] * q
        big = np.maximum(flow, flow.T)
        with np.errstate(divide="ignore", invalid="ignore"):
            rel = np.where(big > 0, np.abs(flow - flow.T) / big, 0.0)
        out["violation"].append(float(rel.max()))
        out["reversible"].append(bool(rel.max() <= 1e-8))
        out["long_run"].append(float(pi @ v[members]))
    # --steps
    x = x0.copy()
    for _ in range(case["steps"]):
        x = x @ p
    out["after_steps"] = float(x @ v)
    # before absorption
    recurrent = set(j for c in closed_classes(p) for j in c)
    transient = [i for i in range(n) if i not in recurrent]
    if transient:
        out["before_absorption"] = solve_ld(minus_q(p, transient), v[transient])
    # before the target, where it is certain
    target = case["target"]
    sure = sorted(certain(p, set(target), set(target)))
    before = [None] * n
    if sure:
        xs = solve_ld(minus_q(p, sure), v[sure])
        for i, s in enumerate(sure):
            before[s] = float(xs[i])
    for t in target:
        before[t] = 0.0
    out["before_target"] = before
    # first passage
    x = x0.copy()
    passage = []
    for _ in range(case["passage"]):
        x = x @ p
        passage.append(float(x[target].sum()))
        x[target] = 0.0
    out["passage"] = passage
    out["beyond"] = float(x.sum())
    # committor: 1 on B, 0 on A and where B cannot be reached first
    a, b = set(case["a"]), set(case["b"])
    stop = a | b
    can = reaches(p, b, stop)
    sure = certain(p, b, stop)
    solve = [i for i in range(n) if i in can and i not in stop and i not in sure]
    q_all = np.zeros(n)
    q_all[list(b)] = 1.0
    q_all[list(sure)] = 1.0
    if solve:
        one = [j for j in range(n) if j in b or j in sure]
        rhs = p[np.ix_(solve, one)].sum(axis=1)
        q_all[solve] = solve_ld(minus_q(p, solve), rhs)
    out["committor"] = q_all
    # lumping by value
    blocks = {}
    for i in range(n):
        blocks.setdefault(float(v[i]), []).append(i)
    into = np.stack([p[:, members].sum(axis=1) for members in blocks.values()], axis=1)
    worst = 0.0
    for members in blocks.values():
        worst = max(worst, float((into[members].max(axis=0) - into[members].min(axis=0)).max()))
    out["lump_violation"] = worst
    return out


def make_case(kind, n, seed):
    """A chain of the kind, with its values, initial probabilities and the options' sets."""
    rng = np.random.default_rng(seed)
    w = np.zeros((n, n))
    if kind == "reversible":
        for i in range(n):
            for j in rng.choice(n, size=3, replace=False):
                w[i, j] = w[j, i] = rng.random() + 0.01
            w[i, (i + 1) % n] = w[(i + 1) % n, i] = rng.random() + 0.01
    elif kind == "slow":
        half = n // 2
        for i in range(n):
            lo, hi = (0, half) if i < half else (half, n)
            w[i, lo + (i - lo + 1) % (hi - lo)] = rng.random() + 0.01
            for j in rng.integers(lo, hi, size=4):
                w[i, j] += rng.random() + 0.01
            w[i] /= w[i].sum()
        w[0, half] = w[half, 0] = 1e-7
    elif kind == "absorbing":
        # closed: {n-1} absorbing, {n-3, n-2} a pair, {n-6..n-4} a cycle with stays
        core = n - 6
        for i in range(core):
            w[i, (i + 1) % core] = rng.random() + 0.01
            for j in rng.integers(0, core, size=3):
                w[i, j] += rng.random() + 0.01
            if rng.random() < 0.3:
                w[i, core + rng.integers(0, 6)] += 0.05 * rng.random() + 0.001
        w[core - 1, n - 1] += 0.1
        w[n - 1, n - 1] = 1.0
        w[n - 3, n - 2] = w[n - 2, n - 3] = 0.7
        w[n - 3, n - 3] = w[n - 2, n - 2] = 0.3
        for k in range(3):
            w[core + k, core + (k + 1) % 3] = 0.6
            w[core + k, core + k] = 0.4
    else:
        for i in range(n):
            w[i, (i + 1) % n] = rng.random() + 0.01
            for j in rng.integers(0, n, size=4):
                w[i, j] += rng.random() + 0.01
    p = w / w.sum(axis=1, keepdims=True)
    values = rng.integers(-2, 5, size=n) / 2.0
    initial = rng.random(n)
    initial /= initial.sum()
    states = rng.permutation(n)
    return {
        "kind": kind, "p": p, "values": values, "initial": initial, "steps": 7,
        "passage": 12, "target": [int(states[0])],
        "a": [int(s) for s in states[1:3]], "b": [int(s) for s in states[3:5]],
    }


def write_config(case, path):
    """The chain as a pravlin configuration, exact to the bits of p as written."""
    p = case["p"]
    n = len(p)
    with open(path, "w", encoding="ascii") as f:
        f.write(f"<pravlin><nbr_states>{n}</nbr_states><nbr_years>2</nbr_years>"
                "<steadystate><calc>no</calc></steadystate>\n")
        for i in range(n):
            f.write(f"<state><ser>{i + 1}</ser><name>s{i + 1}</name>"
                    f"<value>{case['values'][i]!r}</value>"
                    f"<initial_probability>{case['initial'][i]!r}</initial_probability></state>\n")
        for i in range(n):
            f.write(f"<transition><from>{i + 1}</from>")
            for j in np.nonzero(p[i])[0]:
                f.write(f"<to><state>{j + 1}</state><probability>{p[i, j]!r}</probability></to>")
            f.write("</transition>\n")
        f.write("</pravlin>\n")


def options(case):
    """The command line's options for the case."""
    names = lambda states: ",".join(f"s{s + 1}" for s in states)
    return ["--steps", str(case["steps"]), "--target", names(case["target"]), "--passage",
            str(case["passage"]), "--committor", names(case["a"]) + ":" + names(case["b"]),
            "--lump", "value"]


def run(analyze, case, path):
    """pravlin-analyze's JSON for the case."""
    write_config(case, path)
    done = subprocess.run([analyze, path, "--json"] + options(case), capture_output=True,
                          check=True, text=True)
    return json.loads(done.stdout)


def off(ours, ref):
    """The difference that TOLERANCE bounds."""
    if ours is None or ref is None:
        return 0.0 if ours is None and ref is None else float("inf")
    return abs(ours - ref) / max(1.0, abs(ref))


def compare(doc, ref, worst):
    """Adds each analysis's largest difference on one chain into worst."""
    def note(name, value):
        worst[name] = max(worst.get(name, 0.0), value)

    for i, e in enumerate(doc["entropy_rate"]):
        note("entropy rate", off(e["nats"], ref["entropy"][i]))
        note("entropy rate", off(e["bits"], ref["entropy"][i] / np.log(2.0)))
    for i, r in enumerate(doc["reversibility"]):
        note("reversibility", 0.0 if r["reversible"] == ref["reversible"][i] else float("inf"))
        note("reversibility", abs(r["largest_violation"] - ref["violation"][i]) * 1e-3)
    w = doc["rewards"]
    for i, a in enumerate(w["long_run"]):
        note("rewards", off(a["value"], ref["long_run"][i]))
    note("rewards", off(w["after_steps"]["value"], ref["after_steps"]))
    if w["before_absorption"] is not None:
        for i, s in enumerate(w["before_absorption"]["transient"]):
            note("rewards", off(s["value"], float(ref["before_absorption"][i])))
    for s, x in enumerate(w["before_target"]["value"]):
        note("rewards", off(x, ref["before_target"][s]))
    for n, x in enumerate(doc["passage"]["probability"]):
        note("first passage", off(x, ref["passage"][n]))
    note("first passage", off(doc["passage"]["beyond"], ref["beyond"]))
    for s, x in enumerate(doc["committor"]["probability"]):
        note("committor", off(x, float(ref["committor"][s])))
    note("lumping", abs(doc["lump"]["largest_violation"] - ref["lump_violation"]) * 1e3)


CASES = [(kind, n, seed) for seed, (kind, n) in enumerate(
    [(k, n) for n in (8, 60, 200, 500) for k in ("random", "slow", "absorbing", "reversible")])]


def write_fixture(path):
    """Small chains and numpy's numbers for them, for tests/analyze/analyze_analyses_test.cc."""
    with open(path, "w", encoding="ascii") as f:
        f.write("# analyze_numpy.txt - written by bench/check_analyses.py --fixture from numpy's\n"
                "# dense computation; tests/analyze/analyze_analyses_test.cc reads it. States 1-based.\n"
                "# chain N KIND / p I J P / value I V / initial I P / steps S / target T /\n"
                "# passage N / a STATES / b STATES, then what numpy gives: entropy K NATS,\n"
                "# reversible K 0|1, long_run K V, after_steps V, before_absorption I V,\n"
                "# before_target I V (- where undefined), passage N P, beyond P,\n"
                "# committor I Q, lump_violation V.\n")
        for kind, n, seed in [("random", 6, 101), ("slow", 8, 102), ("absorbing", 10, 103),
                              ("reversible", 7, 104)]:
            case = make_case(kind, n, seed)
            ref = reference(case)
            p = case["p"]
            f.write(f"chain {n} {kind}\n")
            for i in range(n):
                for j in np.nonzero(p[i])[0]:
                    f.write(f"p {i + 1} {j + 1} {p[i, j]!r}\n")
            for i in range(n):
                f.write(f"value {i + 1} {case['values'][i]!r}\n")
                f.write(f"initial {i + 1} {case['initial'][i]!r}\n")
            f.write(f"steps {case['steps']}\ntarget {case['target'][0] + 1}\n")
            f.write(f"passage {case['passage']}\n")
            f.write("a " + " ".join(str(s + 1) for s in case["a"]) + "\n")
            f.write("b " + " ".join(str(s + 1) for s in case["b"]) + "\n")
            for k, e in enumerate(ref["entropy"]):
                f.write(f"entropy {k + 1} {e!r}\nreversible {k + 1} {int(ref['reversible'][k])}\n")
                f.write(f"long_run {k + 1} {ref['long_run'][k]!r}\n")
            f.write(f"after_steps {ref['after_steps']!r}\n")
            for i, x in enumerate(ref.get("before_absorption", [])):
                f.write(f"before_absorption {i + 1} {float(x)!r}\n")
            for s, x in enumerate(ref["before_target"]):
                f.write(f"before_target {s + 1} {'-' if x is None else repr(x)}\n")
            for k, x in enumerate(ref["passage"]):
                f.write(f"passage {k + 1} {x!r}\n")
            f.write(f"beyond {ref['beyond']!r}\n")
            for s in range(n):
                f.write(f"committor {s + 1} {float(ref['committor'][s])!r}\n")
            f.write(f"lump_violation {ref['lump_violation']!r}\n")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--fixture":
        write_fixture(sys.argv[2])
        return
    analyze = sys.argv[1]
    worst = {}
    with tempfile.TemporaryDirectory() as tmp:
        for kind, n, seed in CASES:
            case = make_case(kind, n, seed)
            compare(run(analyze, case, os.path.join(tmp, "chain.xml")), reference(case), worst)
    failed = False
    for name in ("entropy rate", "reversibility", "committor", "first passage", "rewards",
                 "lumping"):
        ok = worst.get(name, float("inf")) <= TOLERANCE
        failed = failed or not ok
        print(f"{'pass' if ok else 'FAIL'}: {name} agrees with numpy on {len(CASES)} chains of up "
              f"to 500 states: largest difference {worst.get(name, float('inf')):.1e}")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
