"""The module pravlin: chains made and read, known answers, refusals with the command line's
messages, and the same numbers as pravlin-analyze --json."""
import json
import math
import os
import re
import subprocess
import warnings

import numpy as np
import pytest
import scipy.sparse as sparse

import pravlin

EXAMPLES = os.environ.get("EXAMPLES", os.path.join(os.path.dirname(__file__), "../../examples"))
ANALYZE = os.environ.get("ANALYZE")

WEATHER = [[0.7, 0.3], [0.4, 0.6]]
# Gambler's ruin over 0..4 at even odds: 0 and 4 absorb.
RUIN = [[1, 0, 0, 0, 0], [.5, 0, .5, 0, 0], [0, .5, 0, .5, 0], [0, 0, .5, 0, .5], [0, 0, 0, 0, 1]]
CYCLE = [[0, 1, 0], [0, 0, 1], [1, 0, 0]]


# ---- known answers -----------------------------------------------------------------------------

@pytest.mark.parametrize("P, classes, closed, period, stationary", [
    (WEATHER, [[0, 1]], [True], [1], [[4 / 7, 3 / 7]]),
    (RUIN, [[0], [1, 2, 3], [4]], [True, False, True], [1, 2, 1],
     [[1, 0, 0, 0, 0], [0, 0, 0, 0, 1]]),
    (CYCLE, [[0, 1, 2]], [True], [3], [[1 / 3] * 3]),
    (np.eye(3), [[0], [1], [2]], [True] * 3, [1] * 3, np.eye(3)),
], ids=["two_states", "gamblers_ruin", "periodic", "identity"])
def test_known_classes_and_stationary(P, classes, closed, period, stationary):
    chain = pravlin.Chain(np.array(P, dtype=float))
    c = chain.classes()
    assert [list(k) for k in c.classes] == classes
    assert list(c.closed) == closed and list(c.period) == period
    st = chain.stationary()
    np.testing.assert_allclose(st.distribution, stationary, rtol=1e-14, atol=1e-15)
    assert st.method == ["GTH"] * len(st.method)


def test_gamblers_ruin_absorption():
    ab = pravlin.Chain(np.array(RUIN, dtype=float)).absorption()
    assert list(ab.transient) == [1, 2, 3] and list(ab.closed_classes) == [0, 2]
    np.testing.assert_allclose(ab.steps, [3, 4, 3], rtol=1e-14)
    np.testing.assert_allclose(ab.probability, [[.75, .25], [.5, .5], [.25, .75]], rtol=1e-14)


def test_gamblers_ruin_committor():
    q = pravlin.Chain(np.array(RUIN, dtype=float)).committor(0, 4)
    np.testing.assert_allclose(q.probability, [0, .25, .5, .75, 1], rtol=1e-14)
    with pytest.raises(ValueError, match=r"^--committor: state #1 is in both A and B$"):
        pravlin.Chain(np.array(RUIN, dtype=float)).committor([0, 1], 0)


def test_gamblers_ruin_passage_rewards_and_lumping():
    chain = pravlin.Chain(np.array(RUIN, dtype=float), values=[0, 1, 2, 1, 0],
                          initial=[0, 0, 1, 0, 0])
    passage = chain.passage([0, 4], 4)
    assert list(passage.probability) == [0, .5, 0, .25] and passage.beyond == .25
    ones = pravlin.Chain(np.array(RUIN, dtype=float), values=[1] * 5, initial=[0, 0, 1, 0, 0])
    rewards = ones.rewards(steps=2, targets=0)
    assert list(rewards.long_run) == [1, 1] and rewards.after_steps == 1
    np.testing.assert_allclose(rewards.before_absorption, [3, 4, 3], rtol=1e-14)
    assert math.isnan(rewards.before_target[2])  # 4 absorbs: 0 may never be reached
    lump = chain.lump("value")
    assert lump.lumpable and [list(b) for b in lump.blocks] == [[0, 4], [1, 3], [2]]
    assert lump.chain.P.toarray().tolist() == [[1, 0, 0], [.5, 0, .5], [0, 1, 0]]
    assert list(lump.chain.initial) == [0, 0, 1]
    with pytest.raises(ValueError, match=r"^--passage needs a number of steps from 1 to"):
        chain.passage(0, 0)


def test_periodic_chain_distribution_cycles():
    chain = pravlin.Chain(np.array(CYCLE, dtype=float), initial=[1, 0, 0])
    assert list(chain.distribution(4)) == [0, 1, 0]


@pytest.mark.parametrize("matrix", [
    lambda a: sparse.csr_matrix(a),
    lambda a: sparse.csc_matrix(a),
    lambda a: sparse.coo_matrix(a),
    lambda a: np.asfortranarray(a),
], ids=["csr", "csc", "coo", "fortran"])
def test_matrix_forms_give_the_same_chain(matrix):
    a = np.array(RUIN, dtype=float)
    want = pravlin.Chain(a)
    got = pravlin.Chain(matrix(a))
    assert (got.P != want.P).nnz == 0
    assert np.array_equal(got.absorption().probability, want.absorption().probability)


def test_csr_with_int64_indices():
    a = sparse.csr_matrix(np.array(WEATHER))
    a.indices = a.indices.astype(np.int64)
    a.indptr = a.indptr.astype(np.int64)
    got = pravlin.Chain(a, names=["dry", "wet"]).stationary().distribution
    assert np.array_equal(got, pravlin.Chain(np.array(WEATHER)).stationary().distribution)


def test_arrays_outlive_their_chain():
    chain = pravlin.Chain(np.array(WEATHER))
    pi = chain.stationary().distribution
    del chain
    assert pi.flags.owndata or pi.base is not None
    assert pi.sum() == pytest.approx(1)


def test_written_configuration_reads_back(tmp_path):
    chain = pravlin.Chain(sparse.csr_matrix(np.array(RUIN)), names=list("abcde"),
                          values=[0, 1, 2, 3, 4], initial=[0, 0, 1, 0, 0])
    path = tmp_path / "ruin.xml"
    chain.to_xml(path)
    back = pravlin.Chain.from_xml(path)
    assert back.names == list("abcde") and list(back.values) == [0, 1, 2, 3, 4]
    assert list(back.initial) == [0, 0, 1, 0, 0] and (back.P != chain.P).nnz == 0


# ---- refusals and warnings ---------------------------------------------------------------------

@pytest.mark.parametrize("P, more, message", [
    ([[0.5, 0.5], [0, 0]], {}, "zero total transition_probability for state (2)"),
    ([[1.1, 0], [0, 1]], {}, "For TRANSITION FROM (1) TO (1)  illegal PROBABILITY (1.100000)"),
    ([[0.5, 0.5], [-0.5, 1]], {},
     "For TRANSITION FROM (2) TO (1)  illegal PROBABILITY (-0.500000)"),
    ([[np.nan, 1], [0, 1]], {}, "For TRANSITION FROM (1) TO (1)  illegal PROBABILITY (nan)"),
    ([[1]], {}, "nbr_states (1) must be greater than 1"),
    (WEATHER, {"names": ["dry", "wet"], "initial": [0, 2]},
     "For STATE (wet) illegal INITIAL_PROBABILITY (2.000000)"),
    (WEATHER, {"initial": [0, 0]}, "zero total initial_probability for all states"),
], ids=["zero_row", "above_one", "negative", "nan", "one_state", "initial_above_one",
        "initial_zero"])
def test_bad_chain_raises_the_command_lines_message(P, more, message):
    with pytest.raises(ValueError) as e:
        pravlin.Chain(np.array(P, dtype=float), **more)
    assert str(e.value) == message


def test_rescaled_rows_warn_with_the_command_lines_words():
    with pytest.warns(pravlin.PravlinWarning) as w:
        chain = pravlin.Chain(np.array([[0.5, 0.4], [0.5, 0.5]]))
    assert [str(x.message) for x in w] == [
        "normalizing transition_probability for state (1) by 0.900000"]
    assert chain.P[0, 0] == 0.5 / 0.9


def test_unreadable_configuration_raises(tmp_path):
    missing = tmp_path / "missing.xml"
    with pytest.raises(ValueError, match=r"^Unable to open file \(.*missing.xml\)$"):
        pravlin.Chain.from_xml(missing)
    bad = tmp_path / "bad.xml"
    bad.write_text("<pravlin><nbr_states>2</nbr_states></pravlin>\n")
    with pytest.warns(pravlin.PravlinWarning), pytest.raises(ValueError) as e:
        pravlin.Chain.from_xml(bad)
    assert str(e.value) == "zero total initial_probability for all states"
    # The interpreter goes on, and so does the library.
    assert pravlin.Chain(np.array(WEATHER)).n == 2


# ---- the same numbers as pravlin-analyze --json --------------------------------------------------

def examples():
    return sorted(f for f in os.listdir(EXAMPLES) if f.endswith(".xml"))


def nan_is_null(x):
    return None if isinstance(x, float) and math.isnan(x) else x


@pytest.mark.skipif(ANALYZE is None, reason="needs pravlin-analyze (ANALYZE)")
@pytest.mark.parametrize("name", examples())
def test_numbers_equal_analyze_json(name):
    path = os.path.join(EXAMPLES, name)
    run = subprocess.run([ANALYZE, path, "--json", "--spectral", "--steps", "7", "--target", "#1",
                          "--committor", "#1:#2", "--passage", "6", "--lump", "coarsest"],
                         capture_output=True, check=True)
    doc = json.loads(run.stdout)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        chain = pravlin.Chain.from_xml(path)

    st = chain.stationary()
    for row, k, method, residual, want in zip(st.distribution, st.classes, st.method,
                                              st.residual, doc["stationary"], strict=True):
        assert k + 1 == want["class"] and method == want["method"]
        assert nan_is_null(residual) == want["residual"]
        assert [row[s - 1] for s in want["states"]] == want["probability"]

    ab = chain.absorption()
    if doc["absorption"] is None:
        assert len(ab.transient) == 0
    else:
        want = doc["absorption"]
        assert [k + 1 for k in ab.closed_classes] == want["closed_classes"]
        assert [{"state": s + 1, "steps": st, "probability": list(p)} for s, st, p in
                zip(ab.transient, ab.steps, ab.probability)] == want["transient"]
        assert ab.method == want["method"]

    assert list(chain.distribution(7)) == doc["steps"]["distribution"]
    hit = chain.hitting(0)
    assert list(hit.probability) == doc["hitting"]["probability"]
    assert [s if math.isfinite(s) else None for s in hit.steps] == doc["hitting"]["steps"]
    assert nan_is_null(hit.return_time) == doc["hitting"]["return_time"]
    q = chain.committor(0, 1)
    assert list(q.probability) == doc["committor"]["probability"]
    assert [q.method, nan_is_null(q.residual)] == \
        [doc["committor"]["method"], doc["committor"]["residual"]]
    assert [[e.klass + 1, e.nats, e.bits] for e in chain.entropy_rate()] == \
        [[e["class"], e["nats"], e["bits"]] for e in doc["entropy_rate"]]
    assert [[r.klass + 1, r.reversible, r.violation] for r in chain.reversibility()] == \
        [[r["class"], r["reversible"], r["largest_violation"]] for r in doc["reversibility"]]

    passage = chain.passage(0, 6)
    assert [list(passage.probability), nan_is_null(passage.beyond)] == \
        [doc["passage"]["probability"], doc["passage"]["beyond"]]
    rewards = chain.rewards(steps=7, targets=0)
    if doc["rewards"] is not None:
        want = doc["rewards"]
        assert [{"class": k + 1, "value": nan_is_null(v)} for k, v in
                zip(rewards.classes, rewards.long_run)] == want["long_run"]
        assert nan_is_null(rewards.after_steps) == want["after_steps"]["value"]
        if want["before_absorption"] is None:
            assert len(rewards.transient) == 0
        else:
            assert [{"state": s + 1, "value": nan_is_null(v)} for s, v in
                    zip(rewards.transient, rewards.before_absorption)] == \
                want["before_absorption"]["transient"]
            assert [rewards.absorption_method, nan_is_null(rewards.absorption_residual)] == \
                [want["before_absorption"]["method"], want["before_absorption"]["residual"]]
        assert [nan_is_null(v) for v in rewards.before_target] == want["before_target"]["value"]
        assert [rewards.target_method, nan_is_null(rewards.target_residual)] == \
            [want["before_target"]["method"], want["before_target"]["residual"]]
    lump = chain.lump("coarsest")
    want = doc["lump"]
    assert [lump.by, lump.lumpable, lump.violation] == \
        [want["by"], want["lumpable"], want["largest_violation"]]
    assert [[s + 1 for s in b] for b in lump.blocks] == [b["states"] for b in want["blocks"]]
    data, indices, indptr = lump.chain._c.csr
    assert [{"block": b + 1, "to": [t + 1 for t in indices[indptr[b]:indptr[b + 1]]],
             "probability": list(data[indptr[b]:indptr[b + 1]])}
            for b in range(lump.chain.n)] == want["chain"]
    assert list(lump.chain.initial) == want["initial_probability"]
    assert list(lump.chain.values) == [b["value"] for b in want["blocks"]]

    for got, want in zip(chain.spectrum(2), doc["spectrum"], strict=True):
        assert [got.klass + 1, got.method, nan_is_null(got.slem)] == \
            [want["class"], want["method"], want["slem"]]
        assert [[v.real, v.imag] for v in got.eigenvalues] == \
            [[e["real"], e["imaginary"]] for e in want["eigenvalues"]]
    for got, want in zip(chain.mixing_time(0.25), doc["mixing"], strict=True):
        assert [got.klass + 1, got.time, got.lower_bound, got.upper_bound] == \
            [want["class"], want["time"], want["lower_bound"], want["upper_bound"]]
    for got, want in zip(chain.kemeny(), doc["kemeny"]["classes"], strict=True):
        assert [got.klass + 1, nan_is_null(got.constant), got.method] == \
            [want["class"], want["constant"], want["method"]]


@pytest.mark.skipif(ANALYZE is None, reason="needs pravlin-analyze (ANALYZE)")
@pytest.mark.parametrize("name", [n for n in examples() if "periods" not in n])
@pytest.mark.parametrize("discount, correction", [(None, "none"), (0.035, "simpson")])
def test_horizon_equals_analyze_json(name, discount, correction):
    path = os.path.join(EXAMPLES, name)
    more = [] if discount is None else ["--discount", str(discount)]
    run = subprocess.run([ANALYZE, path, "--json", "--horizon", "5", "--cycle-correction",
                          correction] + more, capture_output=True, check=True)
    want = json.loads(run.stdout)["horizon"]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        h = pravlin.Chain.from_xml(path).horizon(5, discount, correction)
    assert [s + 1 for s in h.absorbing] == want["absorbing"]
    assert [{"step": t, "value": h.value[t], "factor": h.factor[t], "total": h.total[t],
             "absorbed": list(h.absorbed[t]), "distribution": list(h.distribution[t]),
             "steps_spent": list(h.spent[t])} for t in range(6)] == want["path"]


def test_horizon_refuses_what_the_command_line_refuses():
    chain = pravlin.Chain(np.array([[0.5, 0.5], [0.0, 1.0]]))
    for steps, rate, correction, message in [
            (-1, None, "none", "--horizon needs a number of steps from 0"),
            (3, -1.0, "none", "--discount needs a rate per step above -1"),
            (3, None, "midpoint", "--cycle-correction needs none, half, trapezoid or simpson")]:
        with pytest.raises(ValueError, match=message):
            chain.horizon(steps, rate, correction)


# ---- the same chains as pravlin ----------------------------------------------------------------

PRAVLIN = os.environ.get("PRAVLIN")


def pravlin_table(path, tmp_path):
    """The chains pravlin draws for the configuration at path, as states from 0: the same
    configuration with its cells as state numbers, no header and the report on standard output."""
    text = open(path, encoding="latin-1").read()
    text = re.sub(r"<(print_flag|print_header|filename)>[^<]*</\1>", "", text)
    text = text.replace("<pravlin>", "<pravlin><print_flag>ser</print_flag>"
                        "<print_header>no</print_header>", 1)
    copy = tmp_path / "config.xml"
    copy.write_text(text, encoding="latin-1")
    run = subprocess.run([PRAVLIN, str(copy)], capture_output=True, check=True, text=True)
    lines = run.stdout.splitlines()
    rows = [line.split(",")[1:] for line in lines[lines.index(
        next(x for x in lines if x.startswith("time ,"))) + 1:]]
    return np.array([[int(cell) for cell in row] for row in rows]).T - 1


@pytest.mark.skipif(PRAVLIN is None, reason="needs pravlin (PRAVLIN)")
@pytest.mark.parametrize("name", [n for n in examples() if "periods" not in n])
def test_simulate_equals_pravlins_table(name, tmp_path):
    path = os.path.join(EXAMPLES, name)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        chain = pravlin.Chain.from_xml(path)
    assert np.array_equal(chain.simulate(), pravlin_table(path, tmp_path))


def test_simulate_starts_from_the_generators_start():
    chain = pravlin.Chain(np.array(RUIN, dtype=float), initial=[0, 0, 1, 0, 0])
    first = chain.simulate(years=30, chains=200)
    assert first.shape == (200, 31) and first.dtype == np.int32
    assert np.array_equal(first, chain.simulate(years=30, chains=200))
    assert set(first[:, -1]) == {0, 4} and (first[:, 0] == 2).all()


# ---- chains whose matrix changes with the step ---------------------------------------------------

# Three states over three periods, the last one's matrix held after its end (nbr_years 8); the
# middle period makes state 3 absorbing and has a row that pravlin rescales. Each row, once
# rescaled, totals exactly 1, so that the writer moves none of its entries.
PERIODS = """<pravlin>
  <nbr_states>3</nbr_states> <nbr_years>8</nbr_years> <nbr_chains>5</nbr_chains>
  <state><ser>1</ser><name>well</name><value>1</value><initial_probability>0.6</initial_probability></state>
  <state><ser>2</ser><name>ill</name><value>0.5</value><initial_probability>0.4</initial_probability></state>
  <state><ser>3</ser><name>dead</name><value>0</value><initial_probability>0</initial_probability></state>
  <period><first>1</first><last>2</last>
    <transition><from>1</from><to><state>1</state><probability>0.9</probability></to>
      <to><state>2</state><probability>0.1</probability></to></transition>
    <transition><from>2</from><to><state>1</state><probability>0.3</probability></to>
      <to><state>2</state><probability>0.7</probability></to></transition>
    <transition><from>3</from><to><state>1</state><probability>1</probability></to></transition>
  </period>
  <period><first>3</first><last>3</last>
    <transition><from>1</from><to><state>2</state><probability>0.2</probability></to>
      <to><state>3</state><probability>0.2</probability></to></transition>
    <transition><from>2</from><to><state>2</state><probability>0.5</probability></to>
      <to><state>3</state><probability>0.5</probability></to></transition>
    <transition><from>3</from><to><state>3</state><probability>1</probability></to></transition>
  </period>
  <period><first>4</first><last>5</last>
    <transition><from>1</from><to><state>1</state><probability>0.5</probability></to>
      <to><state>2</state><probability>0.25</probability></to>
      <to><state>3</state><probability>0.25</probability></to></transition>
    <transition><from>2</from><to><state>2</state><probability>0.6</probability></to>
      <to><state>3</state><probability>0.4</probability></to></transition>
    <transition><from>3</from><to><state>3</state><probability>1</probability></to></transition>
  </period>
</pravlin>
"""


@pytest.fixture(params=["weather_periods.xml", "made"])
def periods_file(request, tmp_path):
    if request.param == "made":
        path = tmp_path / "periods.xml"
        path.write_text(PERIODS)
        return str(path)
    return os.path.join(EXAMPLES, request.param)


def read_quietly(path):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return pravlin.Chain.from_xml(path)


def horizon_path(h, steps):
    return [{"step": t, "value": h.value[t], "factor": h.factor[t], "total": h.total[t],
             "absorbed": list(h.absorbed[t]), "distribution": list(h.distribution[t]),
             "steps_spent": list(h.spent[t])} for t in range(steps + 1)]


@pytest.mark.skipif(ANALYZE is None, reason="needs pravlin-analyze (ANALYZE)")
def test_horizon_follows_the_periods_as_analyze_json(periods_file):
    run = subprocess.run([ANALYZE, periods_file, "--json", "--horizon", "9", "--discount", "0.035",
                          "--cycle-correction", "half"], capture_output=True, check=True)
    want = json.loads(run.stdout)["horizon"]
    h = read_quietly(periods_file).horizon(9, 0.035, "half")
    assert [s + 1 for s in h.absorbing] == want["absorbing"]
    assert horizon_path(h, 9) == want["path"]


@pytest.mark.skipif(PRAVLIN is None, reason="needs pravlin (PRAVLIN)")
def test_simulate_draws_each_period_as_pravlin(periods_file, tmp_path):
    assert np.array_equal(read_quietly(periods_file).simulate(),
                          pravlin_table(periods_file, tmp_path))


@pytest.mark.skipif(PRAVLIN is None, reason="needs pravlin (PRAVLIN)")
def test_written_periods_give_pravlins_report_and_the_same_chain(periods_file, tmp_path):
    chain = read_quietly(periods_file)
    copy = tmp_path / "copy.xml"
    chain.to_xml(copy)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # rows written as rescaled: nothing left to rescale
        back = pravlin.Chain.from_xml(copy)
    assert horizon_path(back.horizon(9), 9) == horizon_path(chain.horizon(9), 9)
    assert (back.P != chain.P).nnz == 0 and list(back.initial) == list(chain.initial)

    def report(path):
        return subprocess.run([PRAVLIN, str(path)], capture_output=True, check=True,
                              cwd=tmp_path).stdout
    assert report(copy) == report(periods_file)


def test_chain_from_periods_is_the_configurations_chain():
    made = pravlin.Chain.from_periods([(1, 3, [[0.7, 0.3], [0.4, 0.6]]),
                                       (4, 6, sparse.csr_matrix([[0.2, 0.8], [0.1, 0.9]]))],
                                      names=["dry", "wet"], initial=[1, 0])
    read = pravlin.Chain.from_xml(os.path.join(EXAMPLES, "weather_periods.xml"))
    assert horizon_path(made.horizon(8), 8) == horizon_path(read.horizon(8), 8)
    assert np.array_equal(made.simulate(years=6, chains=2), read.simulate())
    assert (made.P != read.P).nnz == 0 and made.names == read.names


@pytest.mark.parametrize("periods, message", [
    ([(2, 3, np.eye(2))], "PERIOD FIRST (2) must be 1: periods follow each other from step 1"),
    ([(1, 3, np.eye(2)), (5, 6, np.eye(2))],
     "PERIOD FIRST (5) must be 4: periods follow each other from step 1"),
    ([(1, 0, np.eye(2))], "PERIOD FIRST (1) LAST (0): LAST is < FIRST"),
    ([(1, 2, np.zeros((2, 2)))], "PERIOD FIRST (1) LAST (2) holds no TRANSITION"),
    ([(1, 2, np.eye(2)), (3, 4, np.eye(3))], "the periods' matrices differ in size: 2 and 3 states"),
    ([], "from_periods needs at least one period"),
], ids=["not_from_step_1", "gap", "last_before_first", "empty", "sizes_differ", "none"])
def test_bad_periods_raise_the_readers_message(periods, message):
    with pytest.raises(ValueError) as e:
        pravlin.Chain.from_periods(periods)
    assert str(e.value) == message
