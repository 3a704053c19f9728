"""Plain-Python model of the per-column extremes decimation: which screen points of a series are
kept, point by point, with the mapping of reference.to_screen (bit for bit the module's).

Of each maximal run of consecutive points in one pixel column c(px) (c truncates toward zero)
the first, the lowest (smallest py), the highest and the last are kept, ties to the earliest; of
each run off the plot to one side (c(px) < c(pl), or c(px) > c(pl + pw)) the first and the
last, the side decided by px alone; a point with a NaN px, or in a column with a NaN py, is kept
alone. Kept points stay in input order.
"""
import math

from surface import to_screen

LEFT, RIGHT = "left", "right"


def trunc(v):
    """v truncated toward zero; NaN and infinities stay as they are."""
    return float(math.trunc(v)) if math.isfinite(v) else v


def run_key(px, py, left, right):
    """LEFT, RIGHT, the column, or None for a point kept alone. A NaN bound excludes nothing."""
    if px != px:
        return None
    c = trunc(px)
    if c < left:
        return LEFT
    if c > right:
        return RIGHT
    return None if py != py else c


def m4_model(xs, ys, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    view = (x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)
    pts = [to_screen(x, y, *view) for x, y in zip(xs, ys)]
    left, right = trunc(pl), trunc(pl + pw)
    keys = [run_key(px, py, left, right) for px, py in pts]
    out = []
    i = 0
    while i < len(pts):
        k, j = keys[i], i
        if k is not None:
            while j + 1 < len(pts) and keys[j + 1] is not None and keys[j + 1] == k:
                j += 1
        picks = {i, j}
        if k is not None and k not in (LEFT, RIGHT):
            run = range(i, j + 1)
            # min and max return the first of equal values: ties go to the earliest.
            picks.add(min(run, key=lambda t: pts[t][1]))
            picks.add(max(run, key=lambda t: pts[t][1]))
        out.extend(pts[t] for t in sorted(picks))
        i = j + 1
    return out
