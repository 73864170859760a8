"""Chain.root and Chain.power: the chain that pravlin-analyze --root/--power writes with -o, the
matrix of its JSON, its repaired mark as a warning, and its refusals."""
import json
import os
import subprocess
import warnings

import numpy as np
import pytest

import pravlin

EXAMPLES = os.environ.get("EXAMPLES", os.path.join(os.path.dirname(__file__), "../../examples"))
ANALYZE = os.environ.get("ANALYZE")

WEATHER = [[0.7, 0.3], [0.4, 0.6]]
CYCLE = [[0, 1, 0], [0, 0, 1], [1, 0, 0]]  # its principal cube root has negative entries
SWAPPY = [[0.2, 0.8], [0.8, 0.2]]  # eigenvalue -0.6: no real principal root


def source(P, tmp_path):
    """A configuration of the chain: an example's file, or the matrix written by the module."""
    if isinstance(P, str):
        return os.path.join(EXAMPLES, P)
    path = str(tmp_path / "chain.xml")
    pravlin.Chain(np.array(P, dtype=float), names=[f"s{k}" for k in range(len(P))],
                  values=range(len(P))).to_xml(path)
    return path


def converted(chain, words):
    """chain converted as words ask, with the warnings it gave."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        if words[0] == "--power":
            got = chain.power(int(words[1]))
        else:
            got = chain.root(int(words[1]), repair=words[3] if len(words) > 2 else None)
    return got, [str(w.message) for w in caught if w.category is pravlin.PravlinWarning]


@pytest.mark.skipif(ANALYZE is None, reason="needs pravlin-analyze (ANALYZE)")
@pytest.mark.parametrize("P, words", [
    (WEATHER, ["--root", "12"]),
    (WEATHER, ["--power", "5"]),
    ("credit.xml", ["--root", "12", "--repair", "qo"]),
    ("credit.xml", ["--power", "30"]),
    (CYCLE, ["--root", "3", "--repair", "wa"]),
    (SWAPPY, ["--root", "2", "--repair", "da"]),
    ("weather_periods.xml", ["--root", "2"]),  # the last period's matrix
], ids=["root", "power", "repaired_credit_root", "credit_power", "repaired_negative_entries",
        "repaired_negative_eigenvalue", "last_period"])
def test_conversion_is_the_chain_analyze_writes(P, words, tmp_path):
    path = source(P, tmp_path)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")  # the chain's own, as it is read
        chain = pravlin.Chain.from_xml(path)
    got, said = converted(chain, words)
    run = subprocess.run([ANALYZE, path, "--json"] + words, capture_output=True, check=True)
    matrix = json.loads(run.stdout)["conversion"]["matrix"]
    assert np.array_equal(got.P.toarray(), np.array(matrix, dtype=float))
    subprocess.run([ANALYZE, path, "-o", str(tmp_path / "analyze.xml")] + words,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    got.to_xml(tmp_path / "module.xml")
    expected = (tmp_path / "analyze.xml").read_text().splitlines()
    written = (tmp_path / "module.xml").read_text().splitlines()
    # The same file but for the comment that says which program wrote it.
    assert written[:1] + written[2:] == expected[:1] + expected[2:]
    marks = [line[len("  <!-- "):-len(" -->")] for line in expected if "NOT EMBEDDABLE" in line]
    assert said == marks
    assert (got.names, list(got.values), list(got.initial)) == \
        (chain.names, list(chain.values), list(chain.initial))


@pytest.mark.parametrize("P, call, message", [
    (WEATHER, lambda c: c.root(1), "--root needs a whole number from 2 to 1000000000, not (1)"),
    (WEATHER, lambda c: c.power(10 ** 10),
     "--power needs a whole number from 2 to 1000000000, not (10000000000)"),
    (WEATHER, lambda c: c.root(2, repair="nearest"), "--repair needs qo, da or wa, not (nearest)"),
    (CYCLE, lambda c: c.root(3), "the root is not embeddable; --repair qo, da or wa repairs it"),
    ([[0.5, 0.5], [0.5, 0.5]], lambda c: c.root(2, repair="qo"),
     "the root is not embeddable and has no logarithm to repair"),
    (np.eye(1001), lambda c: c.power(2),
     "--power works on the dense matrix: 1001 states are more than 1000"),
], ids=["root_of_one", "power_too_large", "unknown_repair", "not_embeddable", "singular",
        "too_many_states"])
def test_conversion_refusals_raise_the_command_lines_message(P, call, message):
    with pytest.raises(ValueError) as e:
        call(pravlin.Chain(np.array(P, dtype=float)))
    assert str(e.value) == message
