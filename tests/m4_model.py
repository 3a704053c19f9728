"""Plain-Python model of the per-column extremes decimation: which screen points of a series are
kept, point by point, with the mapping of surface.to_screen (bit for bit the module's).

Of each maximal run of consecutive points in one pixel column c(px) (c truncates toward zero)
the first, the lowest (smallest py), the highest and the last are kept, ties to the earliest; of
each run off the plot to one side (c(px) < c(pl), or c(px) > c(pl + pw)) the first and the
last, the side decided by px alone; a point with a NaN px, or in a column with a NaN py, is kept
alone. Kept points stay in input order.

With snap=True each point stands for its pixel (floor(px), floor(py)) and c is floor, so that
the grouping and the drawn position agree also left of 0; the columns next to the plot's on
either side count as the plot's (a renderer's fill can reach one pixel across). A run is read as
the path of its pixels, consecutive repeats of a pixel merged into one step. Of a column run it
keeps the first, second, penultimate and last step and, in the lowest and in the highest row, the
earliest step that is neither the first nor the last: a path that turns back in its end row
covers that row's pixel twice, which antialiased strokes that add up coverage show, and the
earliest point of the row is always one of these. Of an off-screen run it keeps the first,
second, penultimate and last step. That is at most 6 points per column run and 4 per off-screen
run; they come back at their pixel's centre (floor + 0.5; a NaN coordinate as it is), and
consecutive kept points in one pixel as one.
"""
import math

from surface import to_screen

LEFT, RIGHT = "left", "right"


def trunc(v):
    """v truncated toward zero; NaN and infinities stay as they are."""
    return float(math.trunc(v)) if math.isfinite(v) else v


def floor(v):
    """The pixel index of v; NaN and infinities stay as they are."""
    return float(math.floor(v)) if math.isfinite(v) else v


def run_key(px, py, left, right, cut=trunc):
    """LEFT, RIGHT, the column, or None for a point kept alone. A NaN bound excludes nothing."""
    if px != px:
        return None
    c = cut(px)
    if c < left:
        return LEFT
    if c > right:
        return RIGHT
    return None if py != py else c


def m4_model(xs, ys, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly, snap=False):
    view = (x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)
    pts = [to_screen(x, y, *view) for x, y in zip(xs, ys)]
    if snap:
        return snapped(pts, pl, pw)
    left, right = trunc(pl), trunc(pl + pw)
    keys = [run_key(px, py, left, right) for px, py in pts]
    out = []
    for k, i, j in runs(keys):
        picks = {i, j}
        if k is not None and k not in (LEFT, RIGHT):
            run = range(i, j + 1)
            # min and max return the first of equal values: ties go to the earliest.
            picks.add(min(run, key=lambda t: pts[t][1]))
            picks.add(max(run, key=lambda t: pts[t][1]))
        out.extend(pts[t] for t in sorted(picks))
    return out


def runs(keys):
    """(key, first, last) of each maximal run of equal keys; a None key is a run of its own."""
    i = 0
    while i < len(keys):
        j = i
        if keys[i] is not None:
            while j + 1 < len(keys) and keys[j + 1] is not None and keys[j + 1] == keys[i]:
                j += 1
        yield keys[i], i, j
        i = j + 1


def snapped(pts, pl, pw):
    """The snap=True rule on the mapped points."""
    pix = [(floor(px), floor(py)) for px, py in pts]
    left, right = floor(pl) - 1, floor(pl + pw) + 1
    keys = [run_key(px, py, left, right, floor) for px, py in pts]
    kept = []
    for k, i, j in runs(keys):
        # The run's path: the first point of each stretch of one pixel.
        steps = [t for t in range(i, j + 1) if t == i or pix[t] != pix[t - 1]]
        picks = {steps[0], steps[-1]}
        if len(steps) > 1:
            picks.update((steps[1], steps[-2]))
        if k is not None and k not in (LEFT, RIGHT):
            inner = steps[1:-1]
            for end_row in (min, max):
                row = end_row(pix[t][1] for t in steps)
                picks.update([t for t in inner if pix[t][1] == row][:1])
        kept.extend(sorted(picks))
    out = []
    for t in kept:
        p = tuple(c + 0.5 if c == c else v for c, v in zip(pix[t], pts[t]))
        if not out or p != out[-1]:
            out.append(p)
    return out
