"""pravlin.fit: the same estimate, intervals, tests and chain as pravlin-fit, from sequences, a
long DataFrame or a count matrix."""
import csv
import os
import subprocess

import numpy as np
import pytest

import pravlin

FIT = os.environ.get("FIT")

SEQUENCES = [["dry", "dry", "wet", "wet", "dry"], ["wet", "dry", None, "dry", "dry", "wet"],
             ["dry", "wet", "wet", "wet"]]


def sequences_file(path):
    with open(path, "w") as f:
        for s in SEQUENCES:
            f.write(",".join("NA" if x is None else x for x in s) + "\n")


def long_frame():
    pd = pytest.importorskip("pandas")
    rows = [(f"s{k}", t, x) for k, s in enumerate(SEQUENCES) for t, x in enumerate(s)]
    rows.reverse()  # the order is the column t's, not the rows'
    return pd.DataFrame(rows, columns=["id", "t", "state"])


def long_file(path):
    long_frame().to_csv(path, index=False)


COUNTS = np.array([[5, 2, 0], [1, 0, 3], [0, 0, 0]])


def matrix_file(path):
    with open(path, "w") as f:
        f.write(",low,mid,high\n")
        for label, row in zip(["low", "mid", "high"], COUNTS):
            f.write(label + "," + ",".join(str(v) for v in row) + "\n")


CASES = {
    "sequences": (lambda: SEQUENCES, {}, sequences_file, ["--test"], {"test": True}),
    "long": (long_frame, {}, long_file, [], {}),
    "matrix": (lambda: COUNTS, {"names": ["low", "mid", "high"]}, matrix_file,
               ["--empty", "uniform"], {"empty": "uniform"}),
    "laplace_with_states": (lambda: SEQUENCES, {}, sequences_file,
                            ["--laplace", "0.5", "--states", "dry,wet,hail", "--confidence",
                             "0.9"],
                            {"estimator": "laplace", "alpha": 0.5,
                             "states": ["dry", "wet", "hail"], "confidence": 0.9}),
}


def number(text):
    return float(text) if text != "" else None


def or_none(x):
    """NaN, where the summary leaves the field empty, as None."""
    return None if x != x else x


@pytest.mark.skipif(FIT is None, reason="needs pravlin-fit (FIT)")
@pytest.mark.parametrize("case", sorted(CASES))
def test_fit_equals_pravlin_fits_summary_and_configuration(case, tmp_path):
    data, more, write, options, keywords = CASES[case]
    got = pravlin.fit(data(), **more, **keywords)
    path = tmp_path / "input.csv"
    write(path)
    subprocess.run([FIT, str(path), "-q", "-o", str(tmp_path / "model.xml"), "--summary",
                    str(tmp_path / "summary.csv")] + options, check=True)
    with open(tmp_path / "summary.csv", newline="") as f:
        lines = list(csv.DictReader(f))
    item = {}
    for line in lines:
        item.setdefault(line["item"], []).append(line)

    states = got.states
    assert [int(item[k][0]["count"]) for k in ("sequences", "transitions", "missing_cells",
                                               "states")] == \
        [got.sequences, got.transitions, got.missing_cells, len(states)]
    assert [number(item[k][0]["value"]) for k in ("log_likelihood", "aic", "bic")] == \
        [got.log_likelihood, got.aic, got.bic]
    assert [(x["from"], number(x["value"])) for x in item["initial"]] == \
        list(zip(states, got.initial))
    assert [(x["from"], int(x["total"]), x["value"]) for x in item["row"]] == \
        list(zip(states, got.total, got.row_kind))
    for x in item["transition"]:
        i, j = states.index(x["from"]), states.index(x["to"])
        assert [int(x["count"]) if x["count"] else 0, number(x["value"]), number(x["lower"]),
                number(x["upper"])] == \
            [got.counts[i, j], got.probability[i, j], or_none(got.lower[i, j]),
             or_none(got.upper[i, j])]
    for x in item.get("unseen_transitions", []):
        i = states.index(x["from"])
        unseen = got.counts[i] == 0
        assert (got.probability[i, unseen] == 0).all()
        assert (got.upper[i, unseen] == number(x["upper"])).all()
    if keywords.get("test"):
        for name in ("markov_property", "homogeneity"):
            x = item[name][0]
            assert [number(x["value"]), int(x["df"]), number(x["p_value"])] == \
                list(getattr(got, "markov" if name == "markov_property" else "homogeneity"))

    written = pravlin.Chain.from_xml(tmp_path / "model.xml")
    assert got.chain.names == written.names == states
    assert (got.chain.P != written.P).nnz == 0
    assert list(got.chain.initial) == list(written.initial)


@pytest.mark.parametrize("data, more, message", [
    ([["a"], ["b"]], {}, "the data: no transitions: every sequence holds one observation"),
    (["ab", "ba"], {}, "sequences are lists of states, not strings"),
    ([["a", "b"]], {"estimator": "bayes"}, "the estimator is mle, laplace or prior, not bayes"),
    (np.array([[0.5, 0.5], [0.2, 0.8]]), {"estimator": "laplace"},
     "the data: --laplace and --prior need counts, not probabilities"),
], ids=["one_observation_each", "strings", "estimator", "laplace_on_probabilities"])
def test_fit_refusals_raise_the_command_lines_message(data, more, message):
    with pytest.raises(ValueError) as e:
        pravlin.fit(data, **more)
    assert str(e.value) == message


def test_fitted_chain_is_analysed_as_any_other():
    got = pravlin.fit([["a", "b"] * 20 + ["a", "a"]])
    assert got.states == ["a", "b"] and pravlin.fit([[1.5, 2]]).states == ["1.5", "2"]
    assert got.counts.tolist() == [[1, 20], [20, 0]]
    np.testing.assert_allclose(got.chain.stationary().distribution, [[21 / 41, 20 / 41]])
