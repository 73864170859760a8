#!/usr/bin/env python3
"""Checks pravlin-analyze's JSON on a chain of make_chain.py against that chain's accuracy goal.

    pravlin-analyze CHAIN.xml --json | bench/check_goals.py KIND CHAIN.xml

R  every stationary residual at most 1e-12, and no entry negative;
B  every entry of the stationary distribution within relative 1e-8 of the closed form
   pi_(i+1) / pi_i = p_i / q_(i+1), p and q read back from the file;
A  the absorption residual at most 1e-10, probabilities within 0..1, steps at least 1.
With --target in the analysis, its hitting section too (one target state):
R  trusted, steps residual at most 1e-12, mean return time within relative 1e-10 of 1 / pi;
B  the same, and every mean first passage time into state 1 within relative 1e-8 of the closed
   form: the sum over k of S_k / q_k, with S_k = 1 + (p_k / q_(k+1)) S_(k+1), S_n = 1;
A  trusted, residuals at most 1e-10, and the probability of reaching an absorbing target within
   1e-10 of the absorption probability into it.
Prints one line: "pass" or "FAIL", and why. Exits 0 on pass, 1 on fail.
"""
import json
import math
import re
import sys


def birth_death_moves(path):
    """The file's up and down probabilities, by state."""
    up, down = {}, {}
    row = re.compile(r"<transition><from>(\d+)</from>(.*?)</transition>")
    move = re.compile(r"<to><state>(\d+)</state><probability>([^<]*)</probability></to>")
    with open(path, encoding="ascii") as f:
        for line in f:
            m = row.search(line)
            if not m:
                continue
            i = int(m.group(1))
            for j, p in move.findall(m.group(2)):
                j = int(j)
                if j == i + 1:
                    up[i] = float(p)
                elif j == i - 1:
                    down[i] = float(p)
    return up, down


def birth_death_form(up, down):
    """pi_i from the closed form, computed in logarithms."""
    n = max(max(up), max(down))
    log = [0.0] * (n + 1)
    for i in range(2, n + 1):
        log[i] = log[i - 1] + math.log(up[i - 1] / down[i])
    top = max(log[1:])
    total = math.fsum(math.exp(v - top) for v in log[1:])
    return [math.exp(v - top) / total for v in log[1:]]


def check_hitting(kind, chain, doc, hit, ok, why):
    """Adds the hitting section's verdict to the chain's."""
    target = hit["targets"][0]
    ok = ok and hit["trusted"] and len(hit["targets"]) == 1
    why += f"; hitting {target}: residuals {hit['probability_residual']:.1e}"
    why += f" {hit['steps_residual']:.1e}"
    if kind in ("R", "B"):
        pi = doc["stationary_distribution"][target - 1]
        error = abs(hit["return_time"] * pi - 1.0)
        ok = ok and hit["steps_residual"] <= 1e-12 and error <= 1e-10
        why += f", return time x pi - 1 = {error:.1e}"
    if kind == "B" and target == 1:
        up, down = birth_death_moves(chain)
        n = len(hit["steps"])
        s = [1.0] * (n + 2)
        for i in range(n - 1, 1, -1):
            s[i] = 1.0 + up[i] / down[i + 1] * s[i + 1]
        steps, worst = 0.0, 0.0
        for i in range(2, n + 1):
            steps += s[i] / down[i]
            worst = max(worst, abs(hit["steps"][i - 1] - steps) / steps)
        ok = ok and worst <= 1e-8
        why += f", passage times off the closed form by {worst:.1e}"
    if kind == "A":
        ab = doc["absorption"]
        k = next(c["number"] for c in doc["classes"] if target in c["states"])
        column = ab["closed_classes"].index(k)
        worst = max(abs(hit["probability"][s["state"] - 1] - s["probability"][column])
                    for s in ab["transient"])
        ok = ok and max(hit["probability_residual"], hit["steps_residual"]) <= 1e-10
        ok = ok and worst <= 1e-10
        why += f", off the absorption probability by {worst:.1e}"
    return ok, why


def main():
    kind, chain = sys.argv[1], sys.argv[2]
    doc = json.load(sys.stdin)
    ok, why = True, ""
    if kind in ("R", "B"):
        residual = max(s["residual"] or 0.0 for s in doc["stationary"])
        pi = doc["stationary_distribution"]
        ok = residual <= 1e-12 and min(pi) >= 0.0
        why = f"residual {residual:.1e}, smallest entry {min(pi):.1e}"
        if kind == "B":
            up, down = birth_death_moves(chain)
            form = birth_death_form(up, down)
            worst = max(abs(p - w) / w for p, w in zip(pi, form) if w > 1e-300)
            ok = ok and len(pi) == len(form) and worst <= 1e-8
            why += f", largest relative error from the closed form {worst:.1e}"
    elif kind == "A":
        ab = doc["absorption"]
        probability = [p for s in ab["transient"] for p in s["probability"]]
        steps = [s["steps"] for s in ab["transient"]]
        ok = ab["residual"] <= 1e-10 and 0.0 <= min(probability) and max(probability) <= 1.0
        ok = ok and min(steps) >= 1.0
        why = f"residual {ab['residual']:.1e}, steps {min(steps):.1f} to {max(steps):.1f}"
    hit = doc.get("hitting")
    if hit is not None:
        ok, why = check_hitting(kind, chain, doc, hit, ok, why)
    print(("pass: " if ok else "FAIL: ") + why)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
