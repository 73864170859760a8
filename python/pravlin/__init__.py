"""pravlin: discrete-time Markov chains, as the command-line tools analyse them.

A Chain is made from a transition matrix (a numpy array or any scipy.sparse
matrix) or read from a configuration file, and analysed by the same library
calls as pravlin-analyze: the same numbers, bit for bit.

States are numbered from 0, as the rows of the matrix; messages that come from
the configuration checks number them from 1, as a configuration does. A bad
chain raises ValueError with the command line's message (without its
" *** ERROR: " prefix); rescaled rows and other warnings of the command line
are issued as PravlinWarning (without " *** WARNING: "). Calls release the GIL;
Ctrl-C stops a long one (a large stationary solve, a horizon, posterior draws)
within a second or so and raises KeyboardInterrupt.

    >>> import numpy as np, pravlin
    >>> chain = pravlin.Chain(np.array([[0.7, 0.3], [0.4, 0.6]]), names=["dry", "wet"])
    >>> chain.stationary().distribution
    array([[0.57142857, 0.42857143]])
"""

import operator as _operator
import os as _os
from collections.abc import Mapping as _Mapping

import numpy as _np

from ._pravlin import PravlinWarning, _Chain
from ._pravlin import fit as _fit

__all__ = ["Chain", "Fit", "Result", "PravlinWarning", "fit"]


class Result:
    """The outcome of one analysis: its numbers as attributes (numpy arrays own
    their memory and outlive the chain); NaN where the command line prints
    nothing, or JSON null."""

    def __init__(self, kind, fields):
        self._kind = kind
        self.__dict__.update(fields)

    def __repr__(self):
        parts = []
        for key, value in self.__dict__.items():
            if key.startswith("_"):
                continue
            text = _np.array2string(value, threshold=8) if isinstance(value, _np.ndarray) else repr(value)
            parts.append(f"{key}={text}")
        return f"{self._kind}({', '.join(parts)})"


def _entries(P):
    """The shape and the positive-or-checked entries (rows, columns, values) of P."""
    try:
        import scipy.sparse as sparse
    except ImportError:  # numpy alone: dense matrices only
        sparse = None
    if sparse is not None and sparse.issparse(P):
        coo = sparse.coo_matrix(P, copy=True)
        coo.sum_duplicates()
        shape = coo.shape
        rows, columns, values = coo.row, coo.col, coo.data
    else:
        a = _np.asarray(P)
        if a.ndim != 2:
            raise ValueError(f"P must be a matrix (2 dimensions), not {a.ndim}")
        shape = a.shape
        rows, columns = _np.nonzero(a)
        values = a[rows, columns]
    if shape[0] != shape[1]:
        raise ValueError(f"P must be square, not {shape[0]} x {shape[1]}")
    kind = _np.asarray(values).dtype
    if not (_np.issubdtype(kind, _np.floating) or _np.issubdtype(kind, _np.integer)
            or kind == _np.bool_):
        raise ValueError(f"P must hold real numbers, not {kind}")
    return (shape[0],
            _np.ascontiguousarray(rows, dtype=_np.int64),
            _np.ascontiguousarray(columns, dtype=_np.int64),
            _np.ascontiguousarray(values, dtype=_np.float64))


def _states(x):
    """One state or a sequence of them, as a list of ints."""
    return [int(x)] if _np.ndim(x) == 0 else [int(s) for s in x]


def _per_state(x, n, what, kind):
    if x is None:
        return []
    x = list(x)
    if len(x) != n:
        raise ValueError(f"{what} gives {len(x)} states, not {n}")
    return [kind(v) for v in x]


class Chain:
    """A discrete-time Markov chain of n states.

    Chain(P, names=None, values=None, initial=None): P is an n x n numpy array
    or scipy.sparse matrix (csr, csc, coo, ..., int32 or int64 indices; float32
    is widened), its entries probabilities from 0 to 1. Each row that does not
    total 1 is rescaled, with the command line's warning; a row of zeros, an
    entry below 0 or above 1 raise ValueError with its message. names default
    to "1".."n", values to 0, initial to all states alike.
    """

    def __init__(self, P, names=None, values=None, initial=None):
        if isinstance(P, _Chain):
            self._c = P
            return
        n, rows, columns, p = _entries(P)
        self._c = _Chain.from_entries(n, rows, columns, p, _per_state(names, n, "names", str),
                                      _per_state(values, n, "values", float),
                                      _per_state(initial, n, "initial", float))

    @classmethod
    def from_periods(cls, periods, names=None, values=None, initial=None):
        """A chain whose matrix changes with the step, as a configuration's periods:
        periods is a list of (first, last, P), P drawing the steps first..last
        (step t moves the chain from step t - 1 to step t); the periods follow
        each other from step 1, and the last one's P is held after its end.
        Each P as for Chain(P), all of the same size; a period out of order
        raises ValueError with the configuration's message. The chain's own
        matrix (P, and every analysis but horizon and simulate) is the last
        period's, as pravlin-analyze describes it."""
        if len(periods) == 0:
            raise ValueError("from_periods needs at least one period")
        given = []
        size = None
        for first, last, P in periods:
            n, rows, columns, p = _entries(P)
            if size is not None and n != size:
                raise ValueError(f"the periods' matrices differ in size: {size} and {n} states")
            size = n
            given.append((int(first), int(last), rows, columns, p))
        empty = _np.zeros(0, dtype=_np.int64)
        return cls(_Chain.from_entries(size, empty, empty, _np.zeros(0),
                                       _per_state(names, size, "names", str),
                                       _per_state(values, size, "values", float),
                                       _per_state(initial, size, "initial", float), given))

    @classmethod
    def from_xml(cls, path):
        """The chain of a configuration file, read and checked as pravlin reads it."""
        return cls(_Chain.from_xml(str(path)))

    def to_xml(self, path):
        """Writes the chain as a configuration that pravlin runs: the settings of
        the file it was read from, if any, else pravlin's defaults; a chain
        whose matrix changes with the step is written with its periods. A
        fitted chain (pravlin.fit's) is written as pravlin-fit writes it, byte
        for byte."""
        self._c.to_xml(str(path))

    @property
    def n(self):
        """The number of states."""
        return self._c.n

    @property
    def names(self):
        """The states' names; None for a state the configuration left unnamed."""
        return self._c.names

    @property
    def values(self):
        """The states' values."""
        return self._c.values

    @property
    def initial(self):
        """The initial probabilities, rescaled to total 1 as pravlin rescales them."""
        return self._c.initial

    @property
    def P(self):
        """The transition matrix as scipy.sparse csr (rows rescaled, zeros left
        out); a dense numpy array when scipy is not installed."""
        data, indices, indptr = self._c.csr
        n = self._c.n
        try:
            import scipy.sparse as sparse
        except ImportError:
            dense = _np.zeros((n, n))
            for i in range(n):
                dense[i, indices[indptr[i]:indptr[i + 1]]] = data[indptr[i]:indptr[i + 1]]
            return dense
        return sparse.csr_matrix((data, indices, indptr), shape=(n, n))

    def __repr__(self):
        return f"pravlin.Chain(n={self.n}, transitions={len(self._c.csr[0])})"

    def classes(self):
        """The communicating classes, numbered from 0 in the order of their
        smallest state: classes (a list of arrays of states), closed (bool
        array) and period (0 for a class with no cycle at all)."""
        return Result("Classes", self._c.classes())

    def stationary(self):
        """The stationary distribution of each closed class: distribution (one
        row of n per closed class, 0 off the class), classes (their numbers),
        method of each solve, residual (NaN where the solve was dense)."""
        return Result("Stationary", self._c.stationary())

    def absorption(self):
        """From each transient state: expected steps until a closed class is
        entered and the probability of ending in each (probability[i, j] for
        transient[i] and closed_classes[j]), with the solve's method and residual."""
        return Result("Absorption", self._c.absorption())

    def distribution(self, steps):
        """The distribution after steps steps from the initial probabilities."""
        return self._c.distribution(int(steps))

    def hitting(self, targets):
        """From every state, the probability of ever reaching the target states
        and the expected steps to do so (inf where that probability is below 1);
        return_time for one target that every state reaches (else NaN)."""
        if _np.ndim(targets) == 0:
            targets = [targets]
        return Result("Hitting", self._c.hitting([int(t) for t in targets]))

    def committor(self, a, b):
        """From every state, the probability of reaching the states b before the
        states a (0 on a, 1 on b), with the solve's method and residual."""
        a = [a] if _np.ndim(a) == 0 else a
        b = [b] if _np.ndim(b) == 0 else b
        return Result("Committor", self._c.committor([int(s) for s in a], [int(s) for s in b]))

    def entropy_rate(self):
        """The entropy rate of each closed class, in nats and in bits."""
        return [Result("EntropyRate", {k: e[k] for k in ("klass", "nats", "bits")})
                for e in self._c.entropy()]

    def reversibility(self):
        """Whether each closed class is reversible: the largest relative
        violation of detailed balance and the first pair (i, j) where it is."""
        return [Result("Reversibility",
                       {k: e[k] for k in ("klass", "reversible", "violation", "pair")})
                for e in self._c.entropy()]

    def kemeny(self):
        """The Kemeny constant of each closed class of two states or more
        (none for an absorbing chain): exact, or estimated with a 95% interval."""
        return [Result("Kemeny", d) for d in self._c.kemeny()]

    def spectrum(self, k=2):
        """The k eigenvalues of largest modulus of each closed class of two
        states or more, with SLEM, spectral gap and relaxation time."""
        return [Result("Spectrum", d) for d in self._c.spectrum(int(k))]

    def mixing_time(self, eps=0.25):
        """The mixing time of each closed class of two states or more: exact, or
        bounds for a large class."""
        return [Result("MixingTime", d) for d in self._c.mixing_time(float(eps))]

    def passage(self, targets, steps):
        """The first passage into the target states from the initial
        probabilities: probability[n - 1] = P(T = n) for n = 1..steps, T the
        first step n >= 1 on a target, and beyond = P(T > steps)."""
        return Result("Passage", self._c.passage(_states(targets), int(steps)))

    def rewards(self, steps=None, targets=None):
        """Rewards of the states' values: long_run, the average of each closed
        class (classes); after_steps, the expected value after steps steps from
        the initial probabilities (NaN when steps is None); before_absorption,
        the expected total from each transient state (transient) until a closed
        class is entered; before_target, the expected total from each state
        until the targets (empty when targets is None), NaN where that may never
        end. Each solve's method and residual beside it."""
        return Result("Rewards", self._c.rewards(-1 if steps is None else int(steps),
                                                 [] if targets is None else _states(targets)))

    def horizon(self, steps, discount=None, correction="none"):
        """The path from the initial probabilities over steps 0..steps, as
        pravlin-analyze --horizon: distribution[t] (the cohort trace), spent[t]
        (the expected steps 0..t spent in each state), value[t] (the expected
        state value) and total[t] (its sum over 0..t, each step weighed by
        factor[t] = 1 / (1 + discount)^t and by the cycle correction "none",
        "half", "trapezoid" or "simpson"), and absorbed[t, j], the probability
        of having been absorbed in absorbing[j] by step t. A chain whose matrix
        changes with the step follows its periods, the last one's matrix after
        its end."""
        rate = float("nan") if discount is None else float(discount)
        return Result("Horizon", self._c.horizon(int(steps), rate, str(correction)))

    def lump(self, by="coarsest", tolerance=1e-9):
        """The chain lumped by blocks of states: by "value" (the states of equal
        value together), "coarsest" (the coarsest partition that is lumpable and
        refines the values) or the path of a file of lines "STATE BLOCK", as
        pravlin-analyze --lump. blocks (arrays of states), lumpable, the largest
        violation and the first pair of blocks between which it is, and chain,
        the lumped Chain (its states the blocks)."""
        d = self._c.lump(str(by), float(tolerance))
        d["chain"] = Chain(d["chain"])
        return Result("Lump", d)

    def root(self, k, repair=None):
        """The k-th root X of the matrix (X^k = P), the chain of a step of 1/k,
        as pravlin-analyze --root k (with --repair repair) writes it with -o:
        a new Chain with the same states, values, initial probabilities and
        settings. k is from 2 to 1000000000, the chain at most 1000 states.
        A root that is not a chain (a real negative eigenvalue, a determinant
        not above 0, or negative entries) raises ValueError, unless repair
        ("qo", "da" or "wa") moves its rows onto a chain's: the repaired chain,
        with a PravlinWarning that says how far its k-th power is from P. A
        chain with periods converts its last period's matrix."""
        words = ["--root", _whole(k, "k")]
        if repair is not None:
            words += ["--repair", str(repair)]
        return Chain(self._c.convert(words))

    def power(self, k):
        """P^k, the chain of k steps, as pravlin-analyze --power k writes it
        with -o (repeated squaring, the same bits on every machine): a new
        Chain with the same states, values, initial probabilities and
        settings. k is from 2 to 1000000000, the chain at most 1000 states; a
        chain with periods converts its last period's matrix."""
        return Chain(self._c.convert(["--power", _whole(k, "k")]))

    def simulate(self, years=None, chains=None):
        """The chains pravlin draws: an int array of chains x (years + 1) states,
        step 0 first, with pravlin's generator from its start, as in a fresh run.
        years and chains default to the configuration's (pravlin's defaults, 50
        and 10, for a chain made from a matrix). For a chain read from a
        configuration, the table pravlin writes for it with print_flag ser,
        less 1. A chain whose matrix changes with the step draws each step from
        its period's matrix, as pravlin does."""
        default_years, default_chains = self._c.run_settings
        return self._c.simulate(int(default_years if years is None else years),
                                int(default_chains if chains is None else chains))


# ---- fitting ---------------------------------------------------------------------------------

def _missing(x):
    """None, NaN and pandas' NA: a missing observation."""
    if x is None:
        return True
    try:
        return bool(x != x)
    except (TypeError, ValueError):
        return False


def _field(x):
    """x as a field of pravlin-fit's input: a label in quotes (quotes doubled), a number as it
    reads back, a missing observation empty."""
    if _missing(x):
        return ""
    if isinstance(x, (bool, _np.bool_)):
        x = str(x)
    if isinstance(x, (int, _np.integer)):
        return str(int(x))
    if isinstance(x, (float, _np.floating)):
        return repr(float(x))
    return '"' + str(x).replace('"', '""') + '"'


def _label(x):
    """A state's label, always in quotes: a number is a label like any other."""
    return '"' + str(x).replace('"', '""') + '"'


def _fit_text(data, names, group=None):
    """The input as pravlin-fit's text, and its form; group names the DataFrame's column of
    groups, kept beside id, t and state."""
    if hasattr(data, "columns") and hasattr(data, "itertuples"):  # a pandas DataFrame
        columns = {str(c).lower(): c for c in data.columns}
        if "state" not in columns:
            raise ValueError("a DataFrame in long form needs a column state (and id, t)")
        keep = [columns[c] for c in ("id", "t", "time", "state") if c in columns]
        labels = [columns["state"]]
        if group is not None and str(group).lower() in columns:
            keep.append(columns[str(group).lower()])
            labels.append(keep[-1])
        lines = [",".join(_label(c) for c in keep)]
        for row in data[keep].itertuples(index=False):
            lines.append(",".join(_label(v) if c in labels and not _missing(v)
                                  else _field(v) for c, v in zip(keep, row)))
        return "\n".join(lines) + "\n", "long"
    a = _np.asarray(data, dtype=object) if not isinstance(data, _np.ndarray) else data
    if isinstance(a, _np.ndarray) and a.ndim == 2 and a.dtype != object and \
            a.shape[0] == a.shape[1]:
        n = a.shape[0]
        labels = [str(s + 1) for s in range(n)] if names is None else [str(x) for x in names]
        if len(labels) != n:
            raise ValueError(f"names gives {len(labels)} states, not {n}")
        lines = ["," + ",".join(_label(x) for x in labels)]
        for label, row in zip(labels, a):
            lines.append(_label(label) + "," + ",".join(_field(v) for v in row))
        return "\n".join(lines) + "\n", "matrix"
    lines = []
    for sequence in data:
        if isinstance(sequence, (str, bytes)):
            raise ValueError("sequences are lists of states, not strings")
        lines.append(",".join("" if _missing(x) else _label(x) for x in sequence))
    return "\n".join(lines) + "\n", "sequences"


def _is_file(x):
    return isinstance(x, (str, bytes, _os.PathLike))


def _file_text(path):
    """A file's bytes, whole: its form is detected as pravlin-fit detects it."""
    with open(path, "rb") as f:
        return f.read(), "auto"


def _periods(by_period):
    """--by-period's LIST: given as it is, or from steps and (first, last) pairs, last None for
    an open period."""
    if isinstance(by_period, str):
        return by_period
    parts = []
    for p in by_period:
        if _np.ndim(p) == 0:
            parts.append(_whole(p, "a period's step"))
        else:
            first, last = p
            parts.append(_whole(first, "a period's first step") + "-" +
                         ("" if last is None else _whole(last, "a period's last step")))
    return ",".join(parts)


def _whole(x, what):
    """A whole number as a word of pravlin-fit's command line (which checks its range)."""
    try:
        return str(_operator.index(x))
    except TypeError:
        raise TypeError(f"{what} must be a whole number, not {type(x).__name__}") from None


def _model(d):
    """The fields of one fitted model, its cells spread into n x n arrays."""
    n = len(d["states"])
    rows, columns = d.pop("cell_from"), d.pop("cell_to")
    counts = _np.zeros((n, n), dtype=_np.uint64)
    counts[rows, columns] = d.pop("cell_count")
    out = {"states": d.pop("states"), "chain": Chain(d.pop("chain")), "counts": counts}
    for name, rest in (("probability", "rest"), ("lower", "rest_lower"), ("upper", "rest_upper")):
        m = _np.repeat(d.pop(rest)[:, None], n, axis=1)
        m[rows, columns] = d.pop("cell_" + name)
        out[name] = m
    out["total"] = d.pop("row_total")
    out.update(d)
    return out


class Fit(Result):
    """A chain estimated by pravlin.fit, as pravlin-fit estimates it: see fit
    for its fields. draws(n) carries the fit's posterior to its answers."""

    def __init__(self, fields, fitted):
        super().__init__("Fit", fields)
        self._fitted = fitted

    def draws(self, n, seed=1, threads=None):
        """pravlin-fit's --draws n --seed seed: n matrices drawn from the
        posterior of the fitted rows (Dirichlet: the counts plus the prior's
        alpha; under maximum likelihood a transition never seen stays
        impossible), each carried to the stationary probabilities, recurrence
        times, entropy rates, Kemeny constants and absorption. The same seed
        gives the same draws, whatever the threads (pravlin-fit's default of
        2 when None).

        Returns n, seed, confidence (the fit's level), classes_changed (draws
        whose classes differ from the fitted chain's, left out) and answers,
        one Answer per line of pravlin-fit's summary: item ("stationary",
        "recurrence_time", "entropy_rate", "kemeny_constant",
        "steps_to_absorption", "absorption"), of (a state's label, or a closed
        class named as pravlin-analyze names it), to (the closed class of an
        absorption, else ""), draws (those in which it is defined), median,
        lower and upper (the equal-tailed interval at the fit's confidence;
        NaN where there is no number), and none and why where there is none
        ("absorbing", "not_drawn", and in words; else "")."""
        words = ["--draws", _whole(n, "n"), "--seed", _whole(seed, "seed")]
        if threads is not None:
            words += ["--threads", _whole(threads, "threads")]
        d = self._fitted.draws(words)
        answers = [Result("Answer", {"item": d["item"][i], "of": d["from"][i], "to": d["to"][i],
                                     "draws": int(d["draws"][i]), "median": d["median"][i],
                                     "lower": d["lower"][i], "upper": d["upper"][i],
                                     "none": d["none"][i], "why": d["why"][i]})
                   for i in range(len(d["item"]))]
        fields = {k: d[k] for k in ("n", "seed", "confidence", "classes_changed")}
        fields["answers"] = answers
        return Result("Draws", fields)


def fit(data, names=None, estimator="mle", alpha=1.0, empty=None, confidence=0.95,
        states=None, test=False, group=None, order=1, select_order=None, by_period=None,
        chains=None, years=None):
    """Estimates a chain as pravlin-fit does, from

    - sequences: a list of lists of states (any labels; None or NaN is a
      missing observation, which breaks its sequence);
    - a pandas DataFrame in long form: columns id, t (or time) and state,
      found by name in any case, as pravlin-fit's long form reads them;
    - a square count matrix (numpy), rows from and columns to, with names the
      labels of its states (1..n by default); a matrix of probabilities or
      weights when a cell is not a whole number;
    - the path of a file (str or os.PathLike) that pravlin-fit reads, its
      form detected as pravlin-fit detects it: a report of pravlin (its
      chains, or a slice of them), sequences, a long table or a matrix;
    - a dict {group name: data} of any one of these forms: each a group, as
      pravlin-fit --groups reads several files (several count matrices are
      always groups); the chain is fitted to them all together.

    estimator is "mle", "laplace" or "prior" (with alpha, as --laplace A and
    --prior A); empty what a row without observations becomes ("absorbing" or
    "uniform", None as pravlin-fit without --empty); confidence the level of
    the intervals; states the labels numbered first; test the Markov and
    time-homogeneity tests (markov and homogeneity: statistic, df, p-value).
    group names the DataFrame's column of groups (--group COLUMN). order=K
    fits the K-th order chain (--order K), a chain on the K-tuples of states
    named "a|b". select_order=K compares orders 0 to K (--select-order K).
    by_period fits one matrix to each period of steps (--by-period LIST): the
    LIST as pravlin-fit reads it ("1-10,11-"), or a list of steps and (first,
    last) pairs, last None for an open period ([(1, 10), (11, None)]).
    chains and years are the configuration's nbr_chains and nbr_years
    (--chains N, --years N; the data's by default). The options go together
    as pravlin-fit's do: a refusal raises ValueError with its message.

    Returns a Fit: states (labels in the order of the chain's states), chain
    (the Chain of the configuration pravlin-fit writes), counts, probability,
    lower and upper (n x n arrays: the interval of each probability), total
    (each row's transitions), row_kind, initial, log_likelihood, parameters,
    aic and bic, the input's sequences, transitions and missing_cells, form
    and order; groups, {name: the group's own fit, with the same fields over
    the same states} ({} without groups), and with test group_test, the G2
    test that every group follows the same chain; with select_order, orders:
    observations (those every order is scored on), log_likelihood,
    parameters, aic and bic of orders 0..K, statistic, df and p_value of each
    order against the next, bic_order and aic_order (the orders each
    criterion chooses); None without select_order; with by_period, chain has
    the periods (as Chain.from_periods makes one), periods is {name ("1-10",
    "11-"): the period's own fit}, as groups ({} without by_period), and with
    test period_test, the G2 test that one matrix serves every period;
    init_year (a report's first step label, else None), years and chains,
    the configuration's settings. draws(n, seed) gives the posterior draws'
    answers.
    """
    estimator = str(estimator)
    if estimator not in ("mle", "laplace", "prior"):
        raise ValueError(f"the estimator is mle, laplace or prior, not {estimator}")
    if empty is not None and str(empty) not in ("absorbing", "uniform"):
        raise ValueError(f"rows without observations are absorbing or uniform, not {empty}")
    if not 0.0 < float(confidence) < 1.0:
        raise ValueError("the level of the intervals is above 0 and below 1")
    words = ["--confidence", repr(float(confidence)), "--order", _whole(order, "order")]
    if estimator != "mle":
        words += ["--" + estimator, repr(float(alpha))]
    if empty is not None:
        words += ["--empty", str(empty)]
    if test:
        words.append("--test")
    if group is not None:
        words += ["--group", str(group)]
    if select_order is not None:
        words += ["--select-order", _whole(select_order, "select_order")]
    if by_period is not None:
        words += ["--by-period", _periods(by_period)]
    if chains is not None:
        words += ["--chains", _whole(chains, "chains")]
    if years is not None:
        words += ["--years", _whole(years, "years")]
    if isinstance(data, _Mapping):
        words.append("--groups")
        if 0 < sum(_is_file(v) for v in data.values()) < len(data):
            raise ValueError("the groups are all files or all data, not both")
        named = [(str(k), _file_text(v) if _is_file(v) else _fit_text(v, names, group))
                 for k, v in data.items()]
        if not named:
            raise ValueError("no groups: the dict is empty")
        forms = {form for _, (_, form) in named}
        if len(forms) > 1:  # each text in its form, as pravlin-fit detects each file's
            first = named[0][1][1]
            other = next((k, form) for k, (_, form) in named if form != first)
            raise ValueError(f"{other[0]}: {other[1]} after {first}: the inputs must be of one "
                             "form")
        texts = [text for _, (text, _) in named]
        labels = [k for k, _ in named]
        form = named[0][1][1]
    elif _is_file(data):
        text, form = _file_text(data)
        texts, labels = [text], [_os.fsdecode(data)]
    else:
        text, form = _fit_text(data, names, group)
        texts, labels = [text], ["the data"]
    d = _fit(texts, labels, form, words, [] if states is None else [str(x) for x in states])
    fitted = d.pop("fitted")
    out = _model(d)
    parts = {g.pop("name"): Result("Group", _model(g)) for g in out.pop("groups")}
    if out.pop("group_word") == "period":
        out["groups"], out["periods"] = {}, parts
        if "group_test" in out:
            out["period_test"] = out.pop("group_test")
    else:
        out["groups"], out["periods"] = parts, {}
    out["orders"] = Result("Orders", out["orders"]) if "orders" in out else None
    return Fit(out, fitted)
