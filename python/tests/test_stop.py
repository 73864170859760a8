"""Ctrl-C in a long call: the call stops and raises KeyboardInterrupt, and the module goes on
working. A thread sends SIGINT to the process a moment after the call starts, as a terminal's
Ctrl-C does."""
import os
import signal
import threading
import time

import numpy as np
import pytest
import scipy.sparse as sparse

import pravlin

# A walk on a square grid, a step to a neighbour at a time: it mixes slowly, so the iterative
# solver crawls before the sparse LU takes over, and every step of the horizon is a product over
# all its states. Each call below runs for tens of seconds unless it is stopped.
SIDE = 300


@pytest.fixture(scope="module")
def grid():
    line = sparse.diags([np.full(SIDE - 1, 0.5), np.r_[0.5, np.zeros(SIDE - 2), 0.5],
                         np.full(SIDE - 1, 0.5)], [-1, 0, 1])
    one = sparse.identity(SIDE)
    return pravlin.Chain(((sparse.kron(line, one) + sparse.kron(one, line)) / 2).tocsr())


@pytest.fixture(scope="module")
def fitted():
    rng = np.random.default_rng(1)
    states = 20
    return pravlin.fit([list(rng.integers(0, states, 20_000))])


@pytest.fixture(scope="module")
def crowded():
    # A random sparse chain, half a step on a ring and an eighth to each of four states drawn:
    # it mixes at once, so its stationary distribution takes a moment, but its largest
    # eigenvalues beside 1 crowd a circle, and Arnoldi on its powers takes tens of seconds to
    # tell ten of them apart.
    rng = np.random.default_rng(3)
    states = 100_000
    to = np.stack([(np.arange(states) + 1) % states]
                  + [rng.integers(0, states, states) for _ in range(4)], axis=1)
    p = np.tile([0.5, 0.125, 0.125, 0.125, 0.125], states)
    chain = pravlin.Chain(sparse.csr_matrix((p, (np.repeat(np.arange(states), 5), to.ravel())),
                                            shape=(states, states)))
    chain.stationary()
    return chain


# Long enough that a stop within the bound below is the handler's doing, not the call's end.
STOP_WITHIN_SECONDS = 5.0

# Each call with the fixture it runs on.
LONG_CALLS = {
    "stationary": ("grid", lambda grid: grid.stationary()),
    "horizon": ("grid", lambda grid: grid.horizon(200)),
    "draws": ("fitted", lambda fitted: fitted.draws(200_000, threads=2)),
    "spectrum": ("crowded", lambda crowded: crowded.spectrum(10)),
}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_sigint_stops_a_long_call_with_keyboard_interrupt(name, grid, request):
    fixture, call = LONG_CALLS[name]
    on = request.getfixturevalue(fixture)
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        timer.start()
        try:
            call(on)
        finally:
            timer.join()  # the signal is out before the block ends, whatever the call did
    assert time.monotonic() - start < STOP_WITHIN_SECONDS
    # The module, and the chain stopped half way, go on.
    np.testing.assert_allclose(pravlin.Chain([[0.5, 0.5], [0.2, 0.8]]).stationary().distribution,
                               [[2 / 7, 5 / 7]], rtol=1e-14)
    assert grid.distribution(1).shape == (SIDE * SIDE,)

