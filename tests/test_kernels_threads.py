"""skyloom.kernels and other threads: a long call on buffers lets other threads run, keeps its
buffers exported until it returns, survives another thread writing into them (the ASan build
runs this file too), and ends promptly with a signal handler's exception."""
import array
import gc
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import skyloom.kernels as kernels
from conftest import SLOW
from helpers import refcount, stamps_in_the_middle, with_signal

pytestmark = pytest.mark.timing

N = 10**7
VIEW = (0.0, float(N), -1.1, 2.2, 10.0, 300.0, 640.0, 280.0)


def walk(n):
    x = np.arange(n, dtype=np.float64)
    return x, np.sin(x * (6.0 / n)) * np.cos(x * 0.37)


# Each long call on (xs, ys): what it returns is checked by kind only, since another thread may
# be changing the values.
CALLS = {
    "trapezoid_integral": lambda x, y: kernels.trapezoid_integral(x, y, None, None),
    "polyfit": lambda x, y: kernels.polyfit(x, y, 3),
    "nearest_on_segments": lambda x, y: kernels.nearest_on_segments(
        320.0, 150.0, x, y, *VIEW, False, False),
    "decimated_to_screen": lambda x, y: kernels.decimated_to_screen(x, y, 2**16, *VIEW, 0, 0),
    "m4_to_screen": lambda x, y: kernels.m4_to_screen(x, y, *VIEW, False, False),
    # Its searches rely on x ascending: another thread's writes may break that promise midway,
    # which gives some polyline, never an out-of-range read.
    "m4_to_screen x_sorted": lambda x, y: kernels.m4_to_screen(
        x, y, *VIEW, False, False, x_sorted=True),
}


def test_a_list_call_keeps_the_lock():
    # With lists the lock is held throughout: another thread that notes the time as often as it
    # can notes nothing in the middle half of the call (with a short switch interval, a switch
    # just before or after the call cannot reach it).
    # A loaded machine may leave the main thread waiting for the lock just before the call, and
    # the other thread's stamps then fall in the window: one clean try of three shows the call
    # held it (a call that let go of it gives the spinning thread the middle every time).
    x, y = walk(10**6)
    xs, ys = x.tolist(), y.tolist()
    assert any(stamps_in_the_middle(lambda: kernels.polyfit(xs, ys, 9)) == [] for _ in range(3))


M = 4 * 10**6
# Calls on array.array buffers of M points, slow enough for another thread to get a turn.
ON_ARRAYS = {
    "trapezoid_integral": lambda x, y: kernels.trapezoid_integral(x, y, None, None),
    "polyfit": lambda x, y: kernels.polyfit(x, y, 9),
    "nearest_on_segments": lambda x, y: kernels.nearest_on_segments(
        320.0, 150.0, x, y, 0.0, 7.0, -1.0, 1.0, 10.0, 300.0, 640.0, 280.0, True, True),
    "decimated_to_screen": lambda x, y: kernels.decimated_to_screen(x, y, 2**20, *VIEW, 0, 0),
    "fn_to_screen": lambda x, y: kernels.fn_to_screen(x, y, *VIEW),
    "m4_to_screen": lambda x, y: kernels.m4_to_screen(x, y, *VIEW, False, False),
}


def while_resizing(xs, call, times):
    """Makes call() up to `times` times while another thread keeps resizing the array xs, which
    fails only while a call holds its buffer and has released the lock; the first failure's
    message, if any, in a list."""
    errors, done = [], threading.Event()

    def resize():
        while not done.is_set():
            try:
                xs.append(0.0)
                xs.pop()
            except BufferError as e:
                errors.append(str(e))
                return

    t = threading.Thread(target=resize)
    t.start()
    try:
        for _ in range(times):
            call()
            if errors:
                break
    finally:
        done.set()
        t.join()
    return errors


@pytest.mark.parametrize("name", sorted(ON_ARRAYS))
def test_other_threads_run_while_the_buffers_stay_exported(name):
    # Another thread keeps resizing xs: it fails only while a call holds the buffer, and it can
    # only try during a call when the call has released the lock.
    xs = array.array("d", range(M))
    ys = array.array("d", range(M + 1))  # room for xs growing by one between calls
    # Until the other thread has had its turn during a call.
    errors = while_resizing(xs, lambda: ON_ARRAYS[name](xs, ys), 100)
    assert errors == ["cannot resize an array that is exporting buffers"]
    xs.append(1.0)  # given back when the call returned


def test_a_short_call_keeps_the_lock():
    # A call whose reads take some tens of microseconds keeps the lock: the resizing thread never
    # finds the buffer exported, since it cannot run during a call.
    xs, ys = array.array("d", range(2**16)), array.array("d", range(2**16 + 1))
    assert while_resizing(xs, lambda: kernels.trapezoid_integral(xs, ys, None, None), 300) == []


# Calls of tens of milliseconds on 10^7 points (x, y, and a smooth curve s over x, of which the
# simplification keeps few points), each timed beside a busy thread.
BESIDE = {
    "trapezoid_integral": lambda x, y, s: kernels.trapezoid_integral(x, y, None, None),
    "polyfit": lambda x, y, s: kernels.polyfit(x, y, 3),
    "nearest_on_segments": lambda x, y, s: kernels.nearest_on_segments(
        320.0, 150.0, x, y, *VIEW, False, False),
    "m4_to_screen": lambda x, y, s: kernels.m4_to_screen(x, y, *VIEW, False, False),
    "m4_to_screen x_sorted": lambda x, y, s: kernels.m4_to_screen(
        x, y, *VIEW, False, False, x_sorted=True),
    "fn_to_screen": lambda x, y, s: kernels.fn_to_screen(x[: N // 10], s[: N // 10], *VIEW),
}


@pytest.fixture(scope="module")
def long_walk():
    x, y = walk(N)
    return x, y, np.sin(x * (6.0 / N))


def fastest(f, where, reps=5):
    """The shortest of reps timings of f, from the main thread or a worker: the least disturbed
    by whatever else the machine runs."""
    times = []

    def run():
        for _ in range(reps):
            t0 = time.perf_counter()
            f()
            times.append(time.perf_counter() - t0)

    if where == "main":
        run()
    else:
        t = threading.Thread(target=run)
        t.start()
        t.join()
    return min(times)


SWITCH = 0.05


def spin(stop):
    while not stop.is_set():
        pass


@pytest.mark.skipif(SLOW, reason="timing: not under valgrind or a sanitizer")
@pytest.mark.parametrize("where", ["main", "worker"])
@pytest.mark.parametrize("name", sorted(BESIDE))
def test_a_busy_thread_costs_a_long_call_one_switch_at_most(long_walk, name, where):
    # A call that released the lock waits up to a switch interval to take it back at its end;
    # taking it back every few hundred thousand points instead made such calls 6 to 17 times
    # slower beside a thread running Python code. The bound is loose: twice the time alone, plus
    # that wait. A virtual machine whose two cores share one can halve the speed of any
    # program beside another: the time beside a busy process, which competes for the cores but
    # not for the lock, then stands for the time alone.
    f = lambda: BESIDE[name](*long_walk)  # noqa: E731
    f()
    alone = fastest(f, where)
    other = subprocess.Popen([sys.executable, "-c", "while True: pass"])
    try:
        time.sleep(0.05)
        process = fastest(f, where)
    finally:
        other.kill()
        other.wait()
    # A longer switch interval widens the gap: each time the lock is taken back costs more.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(SWITCH)
    stop = threading.Event()
    t = threading.Thread(target=spin, args=(stop,))
    t.start()
    try:
        time.sleep(0.02)
        thread = fastest(f, where)
    finally:
        stop.set()
        t.join()
        sys.setswitchinterval(interval)
    # The one wait at the end, and as much again for a thread switch the timing itself may
    # have run into.
    assert thread < 2 * max(alone, process) + 2 * SWITCH, (alone, process, thread)


@pytest.mark.parametrize("name", sorted(CALLS) + ["fn_to_screen"])
def test_another_thread_writing_into_the_buffers(name):
    n = 10**5 if name == "fn_to_screen" else 10**6
    x, y = walk(n)
    done = threading.Event()

    def scribble():
        k = 0
        while not done.is_set():
            k += 1
            np.negative(y, out=y)  # numpy releases the lock for large arrays too
            y[k % 7 :: 7] = np.nan if k % 2 else 1e300
            np.add(x, 1e-3 * (-1) ** k, out=x)
            x[k % 5 :: 97] = -np.inf

    t = threading.Thread(target=scribble)
    t.start()
    try:
        for _ in range(5):
            if name == "fn_to_screen":
                buf, count = kernels.fn_to_screen(x, y, *VIEW)
                assert len(buf) == 2 * n and 0 <= count <= n
                continue
            r = CALLS[name](x, y)
            if name == "polyfit":
                assert len(r) == 4 and all(isinstance(c, float) for c in r)
            elif name == "decimated_to_screen":
                assert len(r[0]) == 2 * 2**16 and r[1] == 2**16
            elif name == "nearest_on_segments":
                assert len(r) == 3
            elif name.startswith("m4_to_screen"):
                assert len(r[0]) == 2 * r[1] and r[1] <= 4 * n
            else:
                assert isinstance(r, float)
    finally:
        done.set()
        t.join()


class Interrupted(Exception):
    pass


def zigzag(n):
    """Samples 2 pixels apart with alternating signs: the simplification's quadratic worst case."""
    i = np.arange(n, dtype=np.float64)
    return i, (1.0 - 0.5 * i / n) * np.where(i % 2 == 1, -1.0, 1.0)


ZIGZAG_VIEW = (0.0, 400.0, -1.1, 2.2, 0.0, 300.0, 640.0, 300.0)
# Seconds of work each would take uninterrupted (10^8 points read with a stride of 0 from one
# number, or a quadratic simplification); the lock is released for all of them.
LONG = {
    "trapezoid_integral": lambda x, y: kernels.trapezoid_integral(x, y, None, None),
    "polyfit": lambda x, y: kernels.polyfit(x, y, 9),
    "nearest_on_segments": lambda x, y: kernels.nearest_on_segments(
        1.0, 2.0, x, y, *VIEW, True, False),
    "fn_to_screen": lambda x, y: kernels.fn_to_screen(x, y, *ZIGZAG_VIEW),
    "m4_to_screen": lambda x, y: kernels.m4_to_screen(x, y, *VIEW, False, False),
    # Every x alike: one column holding all the points, read by the sorted scan.
    "m4_to_screen x_sorted": lambda x, y: kernels.m4_to_screen(
        x, y, *VIEW, False, False, x_sorted=True),
}


def long_inputs(name):
    if name == "fn_to_screen":
        return zigzag(10**5)
    # Long enough that even the sorted scan's one column (a vectorised min and max over memory
    # that stays in cache) outlasts the first look for signals, 100 ms into the call.
    one = np.broadcast_to(np.float64(1.5), (10**9,))
    return one, one


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer")
@pytest.mark.parametrize("name", sorted(LONG))
def test_signal_handler_exception_ends_a_long_buffer_call(name):
    x, y = long_inputs(name)
    fired = []

    def handler(*_):
        fired.append(time.monotonic())
        raise Interrupted

    refs = refcount(x), refcount(y)
    with pytest.raises(Interrupted):
        with_signal(lambda: LONG[name](x, y), handler, 0.05)
    assert time.monotonic() - fired[0] < 0.25
    # Some interpreters (Debian 11's 3.9.2) leave the handler's traceback in a cycle with the
    # call's frames: the collector frees it, a leak would stay.
    gc.collect()
    assert (refcount(x), refcount(y)) == refs


@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer")
def test_signal_handler_that_returns_changes_nothing():
    x, y = walk(4 * 10**6)
    want = kernels.polyfit(x, y, 5)
    fired = []
    got = with_signal(lambda: kernels.polyfit(x, y, 5), lambda *_: fired.append(1), 0.002)
    assert fired and got == want
