"""pravlin: discrete-time Markov chains, as the command-line tools analyse them.

A Chain is made from a transition matrix (a numpy array or any scipy.sparse
matrix) or read from a configuration file, and analysed by the same library
calls as pravlin-analyze: the same numbers, bit for bit.

States are numbered from 0, as the rows of the matrix; messages that come from
the configuration checks number them from 1, as a configuration does. A bad
chain raises ValueError with the command line's message (without its
" *** ERROR: " prefix); rescaled rows and other warnings of the command line
are issued as PravlinWarning (without " *** WARNING: ").

    >>> import numpy as np, pravlin
    >>> chain = pravlin.Chain(np.array([[0.7, 0.3], [0.4, 0.6]]), names=["dry", "wet"])
    >>> chain.stationary().distribution
    array([[0.57142857, 0.42857143]])
"""

import numpy as _np

from ._pravlin import PravlinWarning, _Chain

__all__ = ["Chain", "Result", "PravlinWarning"]


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
    def from_xml(cls, path):
        """The chain of a configuration file, read and checked as pravlin reads it."""
        return cls(_Chain.from_xml(str(path)))

    def to_xml(self, path):
        """Writes the chain as a configuration that pravlin runs: the settings of
        the file it was read from, if any, else pravlin's defaults."""
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

    def simulate(self, years=None, chains=None):
        """The chains pravlin draws: an int array of chains x (years + 1) states,
        step 0 first, with pravlin's generator from its start, as in a fresh run.
        years and chains default to the configuration's (pravlin's defaults, 50
        and 10, for a chain made from a matrix). For a chain read from a
        configuration, the table pravlin writes for it with print_flag ser,
        less 1."""
        default_years, default_chains = self._c.run_settings
        return self._c.simulate(int(default_years if years is None else years),
                                int(default_chains if chains is None else chains))
