"""Several threads calling the module at once get the results that one thread gets: a call keeps
all of its state to itself, even when its items' conversions let other threads run."""
import math
import sys
import threading

import pytest

import skyloom._cy_utils as cy
from helpers import Box
from surface import key

VIEW = (0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)


def calls():
    """Each call makes its own lists (a shared list would be the caller's race)."""
    out = []
    for seed in range(6):
        n = 50 + 40 * seed
        xs = [i * (0.1 + seed * 0.05) for i in range(n)]
        ys = [math.sin(x * (seed + 1)) for x in xs]
        # A Box's conversion runs Python code: the interpreter may switch threads in mid-call.
        boxed = [Box(v) if i % 7 == seed else v for i, v in enumerate(ys)]
        gaps = [None if i % 11 == seed else v for i, v in enumerate(boxed)]
        bad = list(boxed)
        bad[n // 2] = "text"
        out += [
            lambda xs=xs, ys=boxed: cy.decimated_to_screen_cy(xs, ys, 37, *VIEW, 0, 1),
            lambda xs=xs, ys=gaps: cy.fn_to_screen_cy(xs, ys, *VIEW),
            lambda xs=xs, ys=boxed, s=seed: cy.nearest_on_segments_cy(
                100.0 + s, 200.0, xs, ys, *VIEW, s % 2, 0),
            lambda xs=xs, ys=boxed, s=seed: cy.trapezoid_integral_cy(xs, ys, s * 0.5, None),
            lambda xs=xs, ys=boxed, s=seed: cy.polyfit_cy(xs, ys, s + 1),
            lambda xs=xs, ys=bad: cy.polyfit_cy(xs, ys, 2),
            lambda xs=xs, ys=bad: cy.trapezoid_integral_cy(xs, ys, None, None),
        ]
    return out


def outcome(call):
    try:
        return key(call())
    except TypeError as e:
        return ("TypeError", str(e))


@pytest.fixture
def fast_switching():
    old = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(old)


def test_threads_get_the_results_of_one_thread(fast_switching):
    work = calls()
    want = [outcome(c) for c in work]
    rounds, threads = 20, 4
    got = [[] for _ in range(threads)]
    start = threading.Barrier(threads)

    def worker(t):
        start.wait()
        for r in range(rounds):
            # Each thread walks the calls in its own order.
            order = list(range(len(work)))[(t * 5 + r) % len(work):] + list(range(len(work)))[
                : (t * 5 + r) % len(work)]
            got[t].append({k: outcome(work[k]) for k in order})

    pool = [threading.Thread(target=worker, args=(t,)) for t in range(threads)]
    for th in pool:
        th.start()
    for th in pool:
        th.join()
    for t in range(threads):
        assert len(got[t]) == rounds
        for results in got[t]:
            assert [results[k] for k in range(len(work))] == want
