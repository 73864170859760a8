#!/usr/bin/env python3
"""Writes the benchmark configurations W1, W2 and W3 into a folder (deterministic).

W1  simulation-heavy: 50 dense states, 2000 chains, 5000 years, print_flag ser, no header,
    no steady state, report to a file.
W2  solver-heavy: 1000 dense states, 1 chain, 2 years, header, steady state with the defaults.
W4  W1's model over 100000 chains and 10000 years, report on standard output (about 5 GB):
    a run of any length in constant memory.
W5  the same over 1000000 chains (about 50 GB of report; its table would take 40 GB).
W4P W4 with the matrix changing with the step: four periods of 2500 years, each with rows of its
    own, drawn as they are written as W4 is.
W3  parse-heavy: 2000 dense states (4 million destinations, about 280 MB), 1 chain, 2 years,
    no steady state, probabilities typed with 6 to 8 significant digits (every row normalised).
"""
import random
import sys
from pathlib import Path


def row_weights(rng, n):
    w = [rng.random() + 0.01 for _ in range(n)]
    total = sum(w)
    return [x / total for x in w]


def typed(rng, p):
    digits = rng.randint(6, 8)
    return f"{p:.{digits}g}"


def write_rows(w, rng, n, fmt, indent):
    for i in range(1, n + 1):
        row = row_weights(rng, n)
        parts = [f"{indent}<transition>\n{indent}  <from>{i}</from>\n"]
        for j in range(1, n + 1):
            parts.append(f"{indent}  <to><state>{j}</state><probability>{fmt(rng, row[j - 1])}"
                         f"</probability></to>\n")
        parts.append(f"{indent}</transition>\n")
        w("".join(parts))


def write_model(path, n, chains, years, print_flag, header, steady, filename, seed, fmt,
                periods=0):
    rng = random.Random(seed)
    with open(path, "w", encoding="ascii", newline="\n") as f:
        w = f.write
        w("<pravlin>\n")
        w(f"  <nbr_states>{n}</nbr_states>\n")
        w(f"  <init_year>2000</init_year>\n")
        w(f"  <nbr_years>{years}</nbr_years>\n")
        w(f"  <nbr_chains>{chains}</nbr_chains>\n")
        w(f"  <print_flag>{print_flag}</print_flag>\n")
        w(f"  <print_header>{'yes' if header else 'no'}</print_header>\n")
        if filename:
            w(f"  <filename>{filename}</filename>\n")
        w(f"  <steadystate><calc>{'yes' if steady else 'no'}</calc></steadystate>\n")
        init = row_weights(rng, n)
        for i in range(1, n + 1):
            w(f"  <state><ser>{i}</ser><name>s{i}</name><value>{i * 1.5}</value>"
              f"<initial_probability>{fmt(rng, init[i - 1])}</initial_probability></state>\n")
        if periods == 0:
            write_rows(w, rng, n, fmt, "  ")
        for k in range(periods):
            first, last = k * years // periods + 1, (k + 1) * years // periods
            w(f"  <period><first>{first}</first><last>{last}</last>\n")
            write_rows(w, rng, n, fmt, "    ")
            w("  </period>\n")
        w("</pravlin>\n")


def main():
    # make_model.py [FOLDER [NAME...]]: the names (w1, w2, w3, ...) pick workloads; default the
    # first three.
    out = Path(sys.argv[1] if len(sys.argv) > 1 else "bench/out")
    wanted = set(sys.argv[2:]) or {"w1", "w2", "w3"}
    out.mkdir(parents=True, exist_ok=True)
    full = lambda rng, p: repr(p)
    if "w1" in wanted:
        write_model(out / "w1.xml", 50, 2000, 5000, "ser", False, False, "w1.csv", 1, full)
    if "w2" in wanted:
        write_model(out / "w2.xml", 1000, 1, 2, "val", True, True, "w2.csv", 2, full)
    if "w3" in wanted:
        write_model(out / "w3.xml", 2000, 1, 2, "val", False, False, "w3.csv", 3, typed)
    if "w4" in wanted:
        write_model(out / "w4.xml", 50, 100000, 10000, "ser", False, False, None, 1, full)
    if "w4p" in wanted:
        write_model(out / "w4p.xml", 50, 100000, 10000, "ser", False, False, None, 1, full, 4)
    if "w5" in wanted:
        write_model(out / "w5.xml", 50, 1000000, 10000, "ser", False, False, None, 1, full)


if __name__ == "__main__":
    main()
