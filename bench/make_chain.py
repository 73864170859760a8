#!/usr/bin/env python3
"""Writes one large sparse chain for pravlin-analyze (deterministic for a given seed).

    bench/make_chain.py KIND STATES FILE [SEED] [--chains K] [--years T]

R  random: every state moves to the next on a ring and to 4 states drawn at random, with random
   weights (each row written divided by its total). Irreducible and fast-mixing.
B  birth-death line: up with p_i, down with q_i (near one half each, the rest staying put), 1
   and N reflect. Slow-mixing, with the closed form pi_(i+1) / pi_i = p_i / q_(i+1); the
   probabilities are written with 17 significant digits so that the form holds for the file.
A  absorbing: R's structure on the first N - 100 states, the last 100 absorbing, and every
   transient state also moving to one of them.
C  copies: a chain of R's structure on S states (--small S, default 1000), each state with a
   value 0, 1 or 2, copied N / S times. State (a, c), copy c of small state a, is state
   c S + a; it moves where a moves, each time to a copy drawn at random, with a's probability.
   The copies of each small state form a lumpable partition that refines the values.
L  the symmetric line: up and down 1/4 each, the rest staying put (3/4 at the ends). Its second
   largest eigenvalue is 1 - (1 - cos(pi / N)) / 2 exactly.

No steady state is asked for: pravlin's squaring cannot hold such a matrix. --chains and
--years set what pravlin simulates (default 1 chain of 2 years); no header is asked for, so
pravlin draws from the sparse rows.
"""
import argparse
import random


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kind", choices=["R", "B", "A", "C", "L"])
    ap.add_argument("states", type=int)
    ap.add_argument("file")
    ap.add_argument("seed", type=int, nargs="?", default=1)
    ap.add_argument("--chains", type=int, default=1)
    ap.add_argument("--years", type=int, default=2)
    ap.add_argument("--small", type=int, default=1000)
    a = ap.parse_args()
    kind, n, path = a.kind, a.states, a.file
    rng = random.Random(a.seed)
    if kind == "C":
        write_copies(a, rng)
        return
    with open(path, "w", encoding="ascii", newline="\n") as f:
        w = f.write
        w(f"<pravlin><nbr_states>{n}</nbr_states><nbr_years>{a.years}</nbr_years>"
          f"<nbr_chains>{a.chains}</nbr_chains>"
          "<steadystate><calc>no</calc></steadystate>\n")
        w("<state><ser>1</ser><name>s1</name><initial_probability>1</initial_probability></state>\n")
        for i in range(2, n + 1):
            w(f"<state><ser>{i}</ser><name>s{i}</name></state>\n")
        absorbing = n - 100 if kind == "A" else n
        for i in range(1, n + 1):
            if i > absorbing:
                moves = {i: 1.0}
            elif kind == "L":
                moves = {i: 0.5 + 0.25 * ((i == 1) + (i == n))}
                if i < n:
                    moves[i + 1] = 0.25
                if i > 1:
                    moves[i - 1] = 0.25
            elif kind == "B":
                p = 0.25 + 0.05 * rng.random() if i < n else 0.0
                q = 0.25 + 0.05 * rng.random() if i > 1 else 0.0
                moves = {i: 1.0 - p - q}
                if p:
                    moves[i + 1] = p
                if q:
                    moves[i - 1] = q
            else:
                moves = {i % absorbing + 1: rng.random() + 0.01}
                for _ in range(4):
                    j = rng.randint(1, absorbing)
                    moves[j] = moves.get(j, 0.0) + rng.random() + 0.01
                if kind == "A":
                    moves[rng.randint(absorbing + 1, n)] = 0.05 * rng.random() + 0.001
            total = sum(moves.values())
            w(f"<transition><from>{i}</from>")
            for j, p in moves.items():
                p = p / total if kind not in ("B", "L") else p
                w(f"<to><state>{j}</state><probability>{p!r}</probability></to>")
            w("</transition>\n")
        w("</pravlin>\n")


def write_copies(a, rng):
    """The chain C: a small chain of R's structure, with values, copied."""
    small = a.small
    copies = a.states // small
    n = small * copies
    rows, values = [], []
    for i in range(small):
        moves = {(i + 1) % small: rng.random() + 0.01}
        for _ in range(4):
            j = rng.randrange(small)
            moves[j] = moves.get(j, 0.0) + rng.random() + 0.01
        total = sum(moves.values())
        rows.append(sorted((j, p / total) for j, p in moves.items()))
        values.append(rng.randint(0, 2))
    with open(a.file, "w", encoding="ascii", newline="\n") as f:
        w = f.write
        w(f"<pravlin><nbr_states>{n}</nbr_states><nbr_years>{a.years}</nbr_years>"
          f"<nbr_chains>{a.chains}</nbr_chains>"
          "<steadystate><calc>no</calc></steadystate>\n")
        for s in range(1, n + 1):
            start = "<initial_probability>1</initial_probability>" if s == 1 else ""
            w(f"<state><ser>{s}</ser><name>s{s}</name><value>{values[(s - 1) % small]}</value>"
              f"{start}</state>\n")
        for s in range(1, n + 1):
            w(f"<transition><from>{s}</from>")
            for j, p in rows[(s - 1) % small]:
                w(f"<to><state>{rng.randrange(copies) * small + j + 1}</state>"
                  f"<probability>{p!r}</probability></to>")
            w("</transition>\n")
        w("</pravlin>\n")


if __name__ == "__main__":
    main()
