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


# Long enough that a stop within the bound below is the handler's doing, not the call's end.
STOP_WITHIN_SECONDS = 5.0

LONG_CALLS = {
    "stationary": lambda grid, fitted: grid.stationary(),
    "horizon": lambda grid, fitted: grid.horizon(200),
    "draws": lambda grid, fitted: fitted.draws(200_000, threads=2),
}


@pytest.mark.parametrize("name", LONG_CALLS)
def test_sigint_stops_a_long_call_with_keyboard_interrupt(name, grid, fitted):
    call = LONG_CALLS[name]
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    with pytest.raises(KeyboardInterrupt):
        timer.start()
        try:
            call(grid, fitted)
        finally:
            timer.join()  # the signal is out before the block ends, whatever the call did
    assert time.monotonic() - start < STOP_WITHIN_SECONDS
    # The module, and the chain stopped half way, go on.
    np.testing.assert_allclose(pravlin.Chain([[0.5, 0.5], [0.2, 0.8]]).stationary().distribution,
                               [[2 / 7, 5 / 7]], rtol=1e-14)
    assert grid.distribution(1).shape == (SIDE * SIDE,)

