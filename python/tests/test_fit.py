"""pravlin.fit: the same estimate, intervals, tests, groups, periods, orders, posterior draws and
configuration as pravlin-fit, from sequences, a long DataFrame, a count matrix, a report's file or
a dict of groups."""
import csv
import os
import subprocess

import numpy as np
import pytest

import pravlin

FIT = os.environ.get("FIT")
PRAVLIN = os.environ.get("PRAVLIN")
EXAMPLES = os.environ.get("EXAMPLES")

SEQUENCES = [["dry", "dry", "wet", "wet", "dry"], ["wet", "dry", None, "dry", "dry", "wet"],
             ["dry", "wet", "wet", "wet"]]
OTHERS = [["wet", "wet", "dry", "wet"], ["dry", "dry", "dry", "wet", "wet", "dry"]]
REGION = ["north", "south", "north"]  # of each of SEQUENCES


def sequences_file(sequences):
    def write(path):
        with open(path, "w") as f:
            for s in sequences:
                f.write(",".join("NA" if x is None else x for x in s) + "\n")
    return write


def long_frame():
    pd = pytest.importorskip("pandas")
    rows = [(f"s{k}", t, x, REGION[k]) for k, s in enumerate(SEQUENCES) for t, x in enumerate(s)]
    rows.reverse()  # the order is the column t's, not the rows'
    return pd.DataFrame(rows, columns=["id", "t", "state", "Region"])


def long_file(path):
    long_frame().to_csv(path, index=False)


COUNTS = np.array([[5, 2, 0], [1, 0, 3], [0, 0, 0]])
LATER = np.array([[2, 2, 1], [0, 4, 1], [0, 1, 0]])
LEVELS = ["low", "mid", "high"]


def matrix_file(counts):
    def write(path):
        with open(path, "w") as f:
            f.write(",low,mid,high\n")
            for label, row in zip(LEVELS, counts):
                f.write(label + "," + ",".join(str(v) for v in row) + "\n")
    return write


def report_file(path):
    """pravlin's report of a chain whose matrix changes at step 4."""
    with open(path, "w") as f:
        subprocess.run([PRAVLIN, os.path.join(EXAMPLES, "weather_periods.xml")], stdout=f,
                       check=True)


# Each case: the data and keywords of pravlin.fit, the files and options of pravlin-fit, and the
# posterior draws asked of both (n, seed; pravlin-fit runs them on its default 2 threads, the
# module on 1). The files are named as the module names its inputs ("the data", a group's key),
# so that the summary and the configuration name them alike.
CASES = {
    "sequences": (lambda: SEQUENCES, {"test": True}, [sequences_file(SEQUENCES)], ["--test"],
                  None),
    "long": (long_frame, {}, [long_file], [], None),
    "matrix": (lambda: COUNTS, {"names": LEVELS, "empty": "uniform"}, [matrix_file(COUNTS)],
               ["--empty", "uniform"], None),
    "by_period_with_years": (lambda: SEQUENCES + OTHERS,
                             {"by_period": "1-2,3-", "test": True, "years": 9},
                             [sequences_file(SEQUENCES + OTHERS)],
                             ["--by-period", "1-2,3-", "--test", "--years", "9"], None),
    "report_file_by_period_with_chains": (lambda: "runs.csv",
                                          {"by_period": [(1, 3), (4, None)], "test": True,
                                           "chains": 4},
                                          [("runs.csv", report_file)],
                                          ["--by-period", "1-3,4-", "--test", "--chains", "4"],
                                          None),
    "laplace_with_states": (lambda: SEQUENCES,
                            {"estimator": "laplace", "alpha": 0.5,
                             "states": ["dry", "wet", "hail"], "confidence": 0.9},
                            [sequences_file(SEQUENCES)],
                            ["--laplace", "0.5", "--states", "dry,wet,hail", "--confidence",
                             "0.9"], (40, 7)),
    "group_column": (long_frame, {"group": "region", "test": True}, [long_file],
                     ["--group", "region", "--test"], None),
    "groups_of_sequences": (lambda: {"early": SEQUENCES, "late": OTHERS},
                            {"test": True, "select_order": 2},
                            [sequences_file(SEQUENCES), sequences_file(OTHERS)],
                            ["--groups", "--test", "--select-order", "2"], (30, 1)),
    "matrices_are_groups": (lambda: {"2019": COUNTS, "2020": LATER},
                            {"names": LEVELS, "test": True},
                            [matrix_file(COUNTS), matrix_file(LATER)], ["--test"], None),
    "second_order": (lambda: SEQUENCES + OTHERS, {"order": 2, "test": True},
                     [sequences_file(SEQUENCES + OTHERS)], ["--order", "2", "--test"], (25, 5)),
    "select_order": (lambda: SEQUENCES + OTHERS, {"select_order": 3},
                     [sequences_file(SEQUENCES + OTHERS)], ["--select-order", "3"], None),
    "absorbing_draws": (lambda: [["a", "b", "c", "c"], ["a", "a", "b", "b", "c"], ["b", "a", "c"]],
                        {}, [sequences_file([["a", "b", "c", "c"], ["a", "a", "b", "b", "c"],
                                             ["b", "a", "c"]])], [], (20, 3)),
}


def number(text):
    return float(text) if text != "" else None


def or_none(x):
    """NaN, where the summary leaves the field empty, as None."""
    return None if x != x else x


def summary_sections(lines):
    """The summary's lines by item: the whole fit's and the extras', then each group's or
    period's own."""
    whole, groups = {}, []
    for line in lines:
        item = line["item"]
        word = item.split("_")[0]
        if item in ("group", "period"):
            groups.append({"group": [line]})
        elif word in ("group", "period") and item != word + "_test":
            groups[-1].setdefault(item[len(word) + 1:], []).append(line)
        else:
            whole.setdefault(item, []).append(line)
    return whole, groups


def assert_rows_equal(item, got):
    """The rows, transitions and unseen transitions of one fit, bit for bit."""
    states = got.states
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


def g2(x):
    return [number(x["value"]), int(x["df"]), number(x["p_value"])]


@pytest.mark.skipif(None in (FIT, PRAVLIN, EXAMPLES),
                    reason="needs pravlin-fit, pravlin and the examples (FIT, PRAVLIN, EXAMPLES)")
@pytest.mark.parametrize("case", sorted(CASES))
def test_fit_equals_pravlin_fits_summary_and_configuration(case, tmp_path, monkeypatch):
    data, keywords, writers, options, draws = CASES[case]
    monkeypatch.chdir(tmp_path)
    given = data()
    names = list(given) if isinstance(given, dict) else ["the data"]
    inputs = []
    for name, write in zip(names, writers):
        name, write = write if isinstance(write, tuple) else (name, write)
        inputs.append(name)
        write(name)
    got = pravlin.fit(given, **keywords)
    if draws is not None:
        options = options + ["--draws", str(draws[0]), "--seed", str(draws[1])]
    subprocess.run([FIT] + inputs + ["-q", "-o", "model.xml", "--summary", "summary.csv"] +
                   options, check=True)
    with open("summary.csv", newline="") as f:
        item, groups = summary_sections(csv.DictReader(f))

    states = got.states
    assert [int(item[k][0]["count"]) for k in ("sequences", "transitions", "missing_cells",
                                               "states", "parameters")] == \
        [got.sequences, got.transitions, got.missing_cells, len(states), got.parameters]
    assert [number(item[k][0]["value"]) for k in ("log_likelihood", "aic", "bic")] == \
        [got.log_likelihood, got.aic, got.bic]
    assert [(x["from"], number(x["value"])) for x in item["initial"]] == \
        list(zip(states, got.initial))
    assert_rows_equal(item, got)
    tests = {"markov_property": "markov", "homogeneity": "homogeneity", "group_test": "group_test",
             "period_test": "period_test"}
    assert {k for k in tests if k in item} == {k for k, v in tests.items() if hasattr(got, v)}
    for name, field in tests.items():
        if name in item:
            assert g2(item[name][0]) == list(getattr(got, field))

    parts = got.periods or got.groups
    assert len(groups) == len(parts) and not (got.periods and got.groups)
    for lines, (name, g) in zip(groups, parts.items()):
        x = lines["group"][0]
        assert [x["from"], int(x["count"]), int(x["total"]), number(x["value"])] == \
            [name, g.sequences, g.transitions, g.log_likelihood]
        assert g.states == states
        assert_rows_equal(lines, g)
        np.testing.assert_allclose(g.chain.P.toarray(), g.probability, rtol=1e-15, atol=0)

    if got.orders is None:
        assert "order_log_likelihood" not in item
    else:
        o = got.orders
        assert [(int(x["count"]), int(x["total"]), number(x["value"]))
                for x in item["order_log_likelihood"]] == \
            [(r, o.observations, ll) for r, ll in enumerate(o.log_likelihood)]
        for name in ("parameters", "aic", "bic"):
            assert [number(x["value"]) for x in item["order_" + name]] == \
                list(getattr(o, name))
        assert [g2(x) for x in item["order_test"]] == \
            [list(t) for t in zip(o.statistic, o.df, o.p_value)]

    if draws is not None:
        d = got.draws(draws[0], seed=draws[1], threads=1)
        assert [int(item["draws"][0]["count"]), int(item["draws"][0]["total"]),
                int(item["seed"][0]["count"])] == [d.n, d.classes_changed, d.seed]
        answers = [x for k in ("stationary", "recurrence_time", "entropy_rate",
                               "kemeny_constant", "steps_to_absorption", "absorption")
                   for x in item.get(k, [])]
        assert [(x["item"], x["from"], x["to"], int(x["count"])) for x in answers] == \
            [(a.item, a.of, a.to, a.draws) for a in d.answers]
        assert [[x["value"]] if x["value"] in ("absorbing", "not_drawn") else
                [number(x["value"]), number(x["lower"]), number(x["upper"])]
                for x in answers] == \
            [[a.none] if a.none else [or_none(a.median), or_none(a.lower), or_none(a.upper)]
             for a in d.answers]

    assert got.chain.names == states
    got.chain.to_xml("module.xml")
    with open("model.xml", "rb") as expected, open("module.xml", "rb") as written:
        assert written.read() == expected.read()


@pytest.mark.parametrize("call, message", [
    (lambda: pravlin.fit([["a"], ["b"]]),
     "the data: no transitions: every sequence holds one observation"),
    (lambda: pravlin.fit(["ab", "ba"]), "sequences are lists of states, not strings"),
    (lambda: pravlin.fit([["a", "b"]], estimator="bayes"),
     "the estimator is mle, laplace or prior, not bayes"),
    (lambda: pravlin.fit([["a", "b"]], estimator="laplace", alpha=-0.5),
     "--laplace needs a positive number, not (-0.5)"),
    (lambda: pravlin.fit(np.array([[0.5, 0.5], [0.2, 0.8]]), estimator="laplace"),
     "the data: --laplace and --prior need counts, not probabilities"),
    (lambda: pravlin.fit([["a", "b"]], group="region"),
     "the data: --group names a column of the long form, not of sequences"),
    (lambda: pravlin.fit({"x": [["a", "b"]], "y": [["c", "d"]]}),
     "the group (x) shares no state with the other groups"),
    (lambda: pravlin.fit({"x": [["a", "b"]], "y": np.eye(2)}),
     "y: matrix after sequences: the inputs must be of one form"),
    (lambda: pravlin.fit({"x": [["a", "b", "a"]], "y": [["b", "a"]]}, order=2),
     "--order fits one chain, not one a group"),
    (lambda: pravlin.fit([["a", "b", "a"]], order=0), "--order needs a number from 1 to 1000000, "
     "not (0)"),
    (lambda: pravlin.fit([["a", "b", "a"]], order=2, estimator="prior"),
     "--order fits by maximum likelihood with absorbing empty rows: --prior would give tuples "
     "successors that cannot follow them"),
    (lambda: pravlin.fit(np.eye(2), select_order=1),
     "--order and --select-order need sequences, not a matrix"),
    (lambda: pravlin.fit([["a", "b", "a"]], select_order=2),
     "the data: 1 observation after the first 2 of each run: too few for --select-order 2 to "
     "score the orders on"),
    (lambda: pravlin.fit([["a", "b", "a"]]).draws(0),
     "--draws needs a number from 1 to 100000000, not (0)"),
    (lambda: pravlin.fit([["a", "b", "a"]]).draws(5, seed=-1),
     "--seed needs a whole number from 0 to 18446744073709551615, not (-1)"),
    (lambda: pravlin.fit([["a", "b", "a"]], by_period=[(1, 2), (2, None)]),
     "--by-period: the periods (1-2) and (2-) overlap"),
    (lambda: pravlin.fit([["a", "b", "a"]], by_period="1,2,3-"),
     "the period (3-) has no transitions"),
    (lambda: pravlin.fit(COUNTS, by_period="1-"), "--by-period needs sequences, not a matrix"),
    (lambda: pravlin.fit([["a", "b", "a"]], by_period="1-").draws(5),
     "--by-period fits one matrix a period, and does not go with --draws"),
    (lambda: pravlin.fit([["a", "b", "a"]], years=1),
     "--years needs a number from 2 to 2147483646, not (1)"),
    (lambda: pravlin.fit({"x": [["a", "b"]], "y": "runs.csv"}),
     "the groups are all files or all data, not both"),
], ids=["one_observation_each", "strings", "estimator", "negative_alpha",
        "laplace_on_probabilities", "group_of_sequences", "strange_group", "forms_mixed",
        "order_of_groups", "order_zero", "order_with_prior", "select_order_of_matrix",
        "select_order_too_few", "no_draws", "negative_seed", "periods_overlap",
        "period_without_transitions", "periods_of_matrix", "draws_by_period", "years_one",
        "groups_files_and_data"])
def test_fit_refusals_raise_the_command_lines_message(call, message):
    with pytest.raises(ValueError) as e:
        call()
    assert str(e.value) == message


def test_fitted_chain_is_analysed_as_any_other():
    got = pravlin.fit([["a", "b"] * 20 + ["a", "a"]])
    assert got.states == ["a", "b"] and pravlin.fit([[1.5, 2]]).states == ["1.5", "2"]
    assert got.counts.tolist() == [[1, 20], [20, 0]]
    assert got.groups == {} and got.orders is None and got.order == 1
    np.testing.assert_allclose(got.chain.stationary().distribution, [[21 / 41, 20 / 41]])


def test_second_order_chain_is_the_chain_of_pairs():
    got = pravlin.fit([["a", "b", "a", "b", "b", "a"]], order=2)
    assert got.states == ["a|b", "b|a", "b|b"] and got.order == 2
    assert got.counts.tolist() == [[0, 1, 1], [1, 0, 0], [0, 1, 0]]
