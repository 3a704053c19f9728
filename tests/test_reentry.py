"""Re-entry through an item's __float__: a chain of calls back into the module must end in
RecursionError, reported by every level as a failed conversion, and never crash the interpreter,
at the default recursion limit and at any limit and thread stack size at which the same chain
through float() alone survives. Each chain runs in a child process, so that a crash fails the test
instead of ending the run."""
import json
import subprocess
import sys
import textwrap

import pytest

CHILD = textwrap.dedent(
    r"""
    import json, sys, threading
    import skyloom._cy_utils as cy

    name, limit, stack = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    V = "0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0"
    # Each __float__ calls straight into the next level with the same item: no Python frame, class
    # call or argument unpacking between them, so every level that starts reaches the module.
    CALLS = {
        "float": "float(D)",
        "nearest": "cy.nearest_on_segments_cy(1.0, 1.0, [0.0, D], [0.0, 0.0], V, False, False)",
        "nearest_log": "cy.nearest_on_segments_cy(1.0, 1.0, [1.0, D], [1.0, 1.0], V, True, True)",
        "decimated": "cy.decimated_to_screen_cy([D, 0.0], [0.0, 0.0], 10, V, False, False)",
        "fn": "cy.fn_to_screen_cy([0.0, D, 2.0], [0.0, 0.0, 1.0], V)",
        "trapezoid": "cy.trapezoid_integral_cy([0.0, D], [0.0, 1.0], None, None)",
        "polyfit": "cy.polyfit_cy([0.0, D], [0.0, 1.0], 1)",
    }
    depth = 0
    exec(
        "class Deeper:\n"
        "    def __float__(self):\n"
        "        global depth\n"
        "        depth += 1\n"
        "        " + CALLS[name].replace("V", V) + "\n"
        "        return 1.0\n"
    )
    D = Deeper()

    out = {}

    def run():
        try:
            float(D)
            out["outcome"] = "returned"
        except RecursionError as e:
            lines, tb = [], e.__traceback__
            while tb is not None:
                code = tb.tb_frame.f_code
                if code.co_name.startswith("skyloom._cy_utils."):
                    lines.append(tb.tb_lineno)
                tb = tb.tb_next
            out.update(outcome="RecursionError", depth=depth, lines=sorted(set(lines)),
                       entries=len(lines))

    if limit:
        sys.setrecursionlimit(limit)
    if stack:
        threading.stack_size(stack)
        t = threading.Thread(target=run)
        t.start()
        t.join()
    else:
        run()
    print(json.dumps(out))
    """
)

# Each function's chain and the line of the item read that each level reports.
LINES = {"nearest": 115, "nearest_log": 115, "decimated": 147, "fn": 251, "trapezoid": 165,
         "polyfit": 292}


def chain(name, limit=0, stack=0):
    """The outcome of the chain in a child process, or None when the child crashed."""
    p = subprocess.run([sys.executable, "-c", CHILD, name, str(limit), str(stack)],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    if p.returncode != 0:
        return None
    return json.loads(p.stdout)


MB = 1 << 20
# Raised limits, each with the stack sizes to try, smallest first: the first at which the chain
# through float() alone survives is used, so the module's chain runs close to the end of the stack.
LADDERS = {
    "1 MB thread": [(limit, MB) for limit in (100000, 3000, 2500, 2000, 1500)],
    "limit 100000": [(100000, size * MB) for size in (1, 4, 16, 64, 256)],
}
_settings = {}


def setting(ladder):
    if ladder not in _settings:
        _settings[ladder] = next(
            (s for s in LADDERS[ladder] if chain("float", *s) is not None), None)
    return _settings[ladder]


@pytest.mark.parametrize("ladder", [None] + sorted(LADDERS))
@pytest.mark.parametrize("name", sorted(LINES))
def test_reentry_ends_in_recursion_error(name, ladder):
    limit, stack = 0, 0
    if ladder is not None:
        found = setting(ladder)
        if found is None:
            pytest.skip("the chain through float() alone crashes at every setting of " + ladder)
        limit, stack = found
    out = chain(name, limit, stack)
    assert out is not None, "the interpreter crashed (limit %d, stack %d)" % (limit, stack)
    assert out["outcome"] == "RecursionError"
    # Every level, the innermost included, failed as a conversion at its item's read line.
    assert out["lines"] == [LINES[name]]
    assert out["entries"] == out["depth"] > 10
