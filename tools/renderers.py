"""Prints the README's table of renderers: for a 10^6-point random walk, spiky noise and a log-y
walk drawn at 322 x 246 pixels, the pixels that differ between every point and the points that
the per-column extremes keep, drawn by each renderer, before snapping (snap=False, points where
they map) and with it (every point at its pixel's centre). Needs the renderers of
tests/renderers.txt (the nox session `renderers` has them); one that cannot be used is listed
with the reason. Run: python tools/renderers.py [--points N]"""
import argparse
import math
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))

import raster  # noqa: E402
from pictures import all_points, kept_points, walk  # noqa: E402

WIDTH, HEIGHT = 322, 246
# One pixel in from the image's left edge (Pillow and cairo need it), 6 rows of margin.
PLOT = [1.0, HEIGHT - 6.0, WIDTH - 2.0, HEIGHT - 12.0]


def series(name, n, rng):
    xs = [float(i) for i in range(n)]
    if name == "walk":
        ys = walk(n, rng)
    elif name == "spiky":
        ys = [rng.gauss(0, 1) + (rng.choice((-1, 1)) * 40 if rng.random() < 0.002 else 0.0)
              for _ in range(n)]
    else:
        ys = [math.exp(v / 200) for v in walk(n, rng)]
    ly = name == "log y"
    ay = [math.log10(y) for y in ys] if ly else ys
    y0, y1 = min(ay), max(ay)
    return xs, ys, [0.0, float(n - 1), y0, y1 - y0, *PLOT, False, ly]


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--points", type=int, default=10 ** 6)
    args = ap.parse_args()
    names = ("walk", "spiky", "log y")
    drawings = {}
    for name in names:
        xs, ys, view = series(name, args.points, random.Random(name))
        drawings[name] = [
            (all_points(xs, ys, view, snap), kept_points(xs, ys, view, snap))
            for snap in (False, True)
        ]
        kept = len(drawings[name][1][1])
        print("%s: %d points, %d kept with snap" % (name, args.points, kept), file=sys.stderr)
    print("| renderer, settings | %s |" % " | ".join(names))
    print("|---|---|---|---|")
    for renderer, (_, settings) in raster.RENDERERS.items():
        why = raster.unavailable(renderer)
        if why:
            print("| %s, %s | not available: %s | | |" % (renderer, settings, why))
            continue
        cells = []
        for name in names:
            counts = [raster.compare(renderer, full, kept, PLOT[0], PLOT[2], HEIGHT)
                      for full, kept in drawings[name]]
            grey = "-aa" in renderer
            cells.append(" / ".join(
                "%d (by up to %d)" % (n, spread) if grey and n else "%d" % n
                for n, spread in counts))
        print("| %s, %s | %s |" % (renderer, settings, " | ".join(cells)))
        sys.stdout.flush()
    print("\nEach cell: differing pixels without snap / with snap; for the antialiased ones, the "
          "largest grey-level difference among them.")
    svg_rows(drawings, names)


# The demo's lines: an SVG path, antialiased, round joins, of these widths (1.4 is the demo's).
SVG_WIDTHS = (1.0, 1.4)


def svg_picture(points, stroke_width):
    """The polyline as the demo writes it (an SVG path, coordinates to 0.1 px) rendered by Skia's
    SVG module, as a browser engine that draws with Skia renders the demo's picture."""
    import numpy
    import skia

    d = " ".join("%s%.1f %.1f" % ("L" if k else "M", x, y) for k, (x, y) in enumerate(points))
    svg = ('<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d"><path d="%s" '
           'fill="none" stroke="white" stroke-width="%s" stroke-linejoin="round"/></svg>'
           % (WIDTH, HEIGHT, d, stroke_width))
    dom = skia.SVGDOM.MakeFromStream(skia.MemoryStream(svg.encode()))
    surface = skia.Surface(WIDTH, HEIGHT)
    canvas = surface.getCanvas()
    canvas.clear(skia.ColorTRANSPARENT)
    dom.render(canvas)
    return numpy.asarray(surface.toarray()[:, :, 3], dtype=numpy.int16)


def svg_rows(drawings, names):
    """The snapped drawings as SVG in a Skia-based browser engine: the pixels that differ in the
    plot's columns, and their largest grey-level difference."""
    try:
        import skia

        skia.SVGDOM
    except Exception as e:  # not installed, or built without its SVG module
        print("\nSVG through Skia: not available: %s: %s" % (type(e).__name__, e))
        return
    lo, hi = int(PLOT[0]), int(PLOT[0] + PLOT[2])
    print("\n| SVG path (the demo's picture) in Skia's SVG renderer, snapped | %s |"
          % " | ".join(names))
    print("|---|---|---|---|")
    for width in SVG_WIDTHS:
        cells = []
        for name in names:
            full, kept = drawings[name][1]
            a, b = (svg_picture(p, width)[:, lo:hi + 1] for p in (full, kept))
            diff = abs(a - b)
            n = int((diff > 0).sum())
            cells.append("%d (by up to %d)" % (n, int(diff.max())) if n else "0")
        print("| antialiased, stroke-width %s, round joins | %s |" % (width, " | ".join(cells)))


if __name__ == "__main__":
    main()
