"""Draw one SVG picture with the five functions of skyloom._cy_utils and skyloom.kernels.m4_to_screen.

    python -m skyloom.demo [--out skyloom-demo.svg] [--n 1000000] [--seed 1] [--index-n 100000000]

The demo plays the part of a plotting package: every coordinate of a drawn series (lines, dots,
markers, the shaded area) is a pixel position returned by the native modules; the demo's own code
only lays out the panels and computes the axes and their ticks. The long series are drawn with the
per-column extremes of m4_to_screen, and one panel shows what plain striding loses on a spiky
series. It prints each call it makes,
with the points that went in and came out and the time the call took. Last, a series of 10^8
points in a memory-mapped file is hit-tested and redrawn through a series index and by the full
scans, with the times of both.
"""

import argparse
import math
import os
import random
import sys
import time
from xml.sax.saxutils import escape

from skyloom import _cy_utils as cy
from skyloom import kernels

# The module separates the segments of a curve with the pair (1e308, 1e308); drawn points are
# clamped to +-1e6 px, so anything above this is a separator.
GAP = 1e307

WIDTH, HEIGHT = 1250, 1200
COLS, PANEL_W, PANEL_H, GUTTER = 3, 400, 360, 10
TOP = 62
FONT = "DejaVu Sans, Verdana, Arial, sans-serif"
INK, MUTED, GRID, FRAME = "#1f2933", "#5f6b7a", "#e4e8ee", "#9aa5b1"
BLUE, ORANGE, GREEN, PURPLE, RED = "#2563a8", "#d9661f", "#2e8b57", "#7b4fb8", "#c62828"


# ----------------------------------------------------------------------------------------------
# The calls, timed and logged


class CallLog:
    """Runs module functions, timing each call and printing what went in and came out."""

    def __init__(self, out):
        self.out = out
        self.rows = []
        print(
            "  %-24s %-7s %10s %11s %11s  %s"
            % ("call", "panel", "points in", "points out", "time", "result"),
            file=out,
        )

    def call(self, panel, fn, n_in, args, count_out, note=lambda r: ""):
        t0 = time.perf_counter()
        result = fn(*args)
        ms = (time.perf_counter() - t0) * 1e3
        n_out = count_out(result)
        row = (fn.__name__, panel, n_in, n_out, ms, note(result))
        self.rows.append(row)
        print(
            "  %-24s %-7s %10s %11s %8.3f ms  %s"
            % (row[0], panel, "{:,}".format(n_in), "{:,}".format(n_out), ms, row[5]),
            file=self.out,
        )
        return result


# ----------------------------------------------------------------------------------------------
# Data


def random_walk(n, rnd):
    ys, y = [], 0.0
    gauss = rnd.gauss
    for _ in range(n):
        y += gauss(0.0, 1.0)
        ys.append(y)
    return [float(i) for i in range(n)], ys


def linspace(a, b, n):
    return [a + (b - a) * i / (n - 1) for i in range(n)]


def horner(coeffs, x):
    v = 0.0
    for c in coeffs:
        v = v * x + c
    return v


# ----------------------------------------------------------------------------------------------
# Axes and ticks (the demo's own arithmetic: where tick marks and labels go)


def nice_step(span, target):
    raw = span / target
    mag = 10.0 ** math.floor(math.log10(raw))
    for m in (1.0, 2.0, 5.0, 10.0):
        if m * mag >= raw * 0.999:
            return m * mag
    return 10.0 * mag


def tick_label(v, step, top):
    """Label of tick v on an axis with tick spacing step whose largest magnitude is top."""
    if abs(v) < step * 1e-9:
        return "0"
    if top >= 1e6 and step >= 1e5:
        label = ("%.1f" % (v / 1e6)).rstrip("0").rstrip(".") + "M"
    elif top >= 1e4 and step >= 1e3:
        label = ("%.1f" % (v / 1e3)).rstrip("0").rstrip(".") + "k"
    elif step >= 1:
        label = "{:,.0f}".format(v)
    else:
        label = "%.*f" % (-int(math.floor(math.log10(step) + 1e-9)), v)
    return label.replace("-", "\u2212")


def linear_ticks(lo, span, target=5):
    step = nice_step(span, target)
    k = math.ceil(lo / step - 1e-9)
    values = []
    while k * step <= lo + span * (1 + 1e-9):
        values.append(k * step)
        k += 1
    top = max(abs(v) for v in values) if values else 0.0
    return [(v, tick_label(v, step, top)) for v in values]


SUPERSCRIPT = str.maketrans(
    "-0123456789", "\u207b\u2070\u00b9\u00b2\u00b3\u2074\u2075\u2076\u2077\u2078\u2079"
)


def decade_ticks(lo, span):
    """Major ticks at whole decades of a log axis given in decades; minor ticks at 2..9."""
    major, minor = [], []
    for d in range(int(math.floor(lo)), int(math.ceil(lo + span)) + 1):
        if lo - 1e-9 <= d <= lo + span + 1e-9:
            major.append((float(d), "10" + str(d).translate(SUPERSCRIPT)))
        for m in range(2, 10):
            v = d + math.log10(m)
            if lo < v < lo + span:
                minor.append(v)
    return major, minor


def pi_ticks(lo, span):
    names = {0: "0", 1: "\u03c0/2", 2: "\u03c0", 3: "3\u03c0/2", 4: "2\u03c0"}
    ticks = []
    for k in range(
        int(math.ceil(lo / (math.pi / 2) - 1e-9)), int(math.floor((lo + span) / (math.pi / 2) + 1e-9)) + 1
    ):
        label = names.get(abs(k), "%d\u03c0/2" % abs(k))
        ticks.append((k * math.pi / 2, ("\u2212" if k < 0 else "") + label))
    return ticks


def fmt(v, digits=4):
    return ("%.*g" % (digits, v)).replace("-", "\u2212")


# ----------------------------------------------------------------------------------------------
# SVG


def attrs(**kw):
    return " ".join(
        '%s="%s"' % (k.rstrip("_").replace("_", "-"), escape(str(v), {'"': "&quot;"})) for k, v in kw.items()
    )


def text(x, y, s, size=11, fill=INK, anchor="start", weight="normal", **kw):
    return "<text %s>%s</text>" % (
        attrs(
            x="%.1f" % x,
            y="%.1f" % y,
            font_size=size,
            fill=fill,
            text_anchor=anchor,
            font_weight=weight,
            **kw,
        ),
        escape(s),
    )


def path_d(buf, count):
    """SVG path data of interleaved pixel pairs; a separator pair starts a new subpath."""
    parts, pen = [], "M"
    for k in range(count):
        x, y = buf[2 * k], buf[2 * k + 1]
        if x >= GAP or x != x or y != y:
            pen = "M"
            continue
        parts.append("%s%.1f %.1f" % (pen, x, y))
        pen = "L"
    return " ".join(parts)


def pairs(buf, count):
    return [(buf[2 * k], buf[2 * k + 1]) for k in range(count)]


class Panel:
    """One plot: a frame, a plot rectangle (pl, pb, pw, ph) and a view window (x0, dx, y0, dy)."""

    ML, MR, MT, MB = 64, 14, 72, 42

    def __init__(self, key, index, title, subtitle, span=1):
        """The panel in grid cell `index`, `span` cells wide."""
        col, row = index % COLS, index // COLS
        self.key, self.title, self.subtitle = key, title, subtitle
        self.width = span * PANEL_W + (span - 1) * GUTTER
        self.left = 15 + col * (PANEL_W + GUTTER)
        self.top = TOP + row * (PANEL_H + GUTTER)
        self.pl = float(self.left + self.ML)
        self.pw = float(self.width - self.ML - self.MR)
        self.pb = float(self.top + PANEL_H - self.MB)
        self.ph = float(PANEL_H - self.MT - self.MB)
        self.body, self.key_items = [], []
        self.x0 = self.dx = self.y0 = self.dy = 0.0
        self.logy = False

    def view(self, x0, dx, y0, dy, logy=False):
        self.x0, self.dx, self.y0, self.dy, self.logy = x0, dx, y0, dy, logy

    @property
    def window(self):
        return (self.x0, self.dx, self.y0, self.dy)

    @property
    def rect(self):
        return (self.pl, self.pb, self.pw, self.ph)

    # Axis positions of tick values (the view is linear in the axis value, decades on a log axis).
    def tick_x(self, v):
        return self.pl + (v - self.x0) / self.dx * self.pw

    def tick_y(self, v):
        return self.pb - (v - self.y0) / self.dy * self.ph

    def line(self, buf, count, colour, width=1.4, **kw):
        self.body.append(
            "<path %s/>"
            % attrs(
                d=path_d(buf, count),
                fill="none",
                stroke=colour,
                stroke_width=width,
                stroke_linejoin="round",
                **kw,
            )
        )

    def legend(self, items):
        """A key row under the subtitle; items are (colour, kind, label), kind 'line', 'dot',
        'area' or 'cursor'."""
        self.key_items = items

    def key_svg(self):
        out, x, y = [], self.left + 12.0, self.top + 58.0
        for colour, kind, label in self.key_items:
            width = 24 + 5.9 * len(label)
            if x + width > self.left + self.width - 8:
                x, y = self.left + 12.0, y + 16
            if kind == "line":
                out.append(
                    "<line %s/>" % attrs(x1=x, y1=y - 4, x2=x + 16, y2=y - 4, stroke=colour, stroke_width=2.2)
                )
            elif kind == "dot":
                out.append("<circle %s/>" % attrs(cx=x + 8, cy=y - 4, r=3.5, fill=colour))
            elif kind == "area":
                out.append(
                    "<rect %s/>"
                    % attrs(x=x, y=y - 9, width=16, height=10, fill=colour, fill_opacity=0.3, stroke=colour)
                )
            elif kind == "cursor":
                out.append(cursor(x + 8, y - 4))
            out.append(text(x + 21, y, label, class_="key"))
            x += width + 10
        return '<g class="key">%s</g>' % "".join(out)

    def svg(self, xticks, yticks, xlabel, ylabel, yminor=()):
        top = self.pb - self.ph
        out = ["<g %s>" % attrs(id="panel-" + self.key, class_="panel")]
        out.append(
            "<rect %s/>"
            % attrs(
                x=self.left, y=self.top, width=self.width, height=PANEL_H, rx=6, fill="white", stroke="#d5dbe3"
            )
        )
        out.append(text(self.left + 12, self.top + 20, self.title, size=13.5, weight="bold", class_="title"))
        out.append(text(self.left + 12, self.top + 36, self.subtitle, size=11, fill=MUTED, class_="subtitle"))
        out.append(
            '<clipPath id="clip-%s"><rect %s/></clipPath>'
            % (self.key, attrs(x=self.pl, y=top, width=self.pw, height=self.ph))
        )
        out.append("<rect %s/>" % attrs(x=self.pl, y=top, width=self.pw, height=self.ph, fill="#fbfcfd"))
        grid, marks = [], []
        for v in yminor:
            py = self.tick_y(v)
            grid.append("M%.1f %.1fH%.1f" % (self.pl, py, self.pl + self.pw))
        out.append("<path %s/>" % attrs(d=" ".join(grid), stroke="#f0f2f5", stroke_width=1, class_="grid"))
        grid = []
        for v, label in xticks:
            px = self.tick_x(v)
            grid.append("M%.1f %.1fV%.1f" % (px, self.pb, top))
            marks.append("M%.1f %.1fv5" % (px, self.pb))
            out.append(text(px, self.pb + 17, label, anchor="middle", fill=MUTED, class_="tick"))
        for v, label in yticks:
            py = self.tick_y(v)
            grid.append("M%.1f %.1fH%.1f" % (self.pl, py, self.pl + self.pw))
            marks.append("M%.1f %.1fh-5" % (self.pl, py))
            out.append(text(self.pl - 8, py + 4, label, anchor="end", fill=MUTED, class_="tick"))
        for v in yminor:
            marks.append("M%.1f %.1fh-3" % (self.pl, self.tick_y(v)))
        out.append("<path %s/>" % attrs(d=" ".join(grid), stroke=GRID, stroke_width=1, class_="grid"))
        out.append('<g clip-path="url(#clip-%s)">' % self.key)
        out.extend(self.body)
        out.append("</g>")
        out.append(
            "<rect %s/>" % attrs(x=self.pl, y=top, width=self.pw, height=self.ph, fill="none", stroke=FRAME)
        )
        out.append("<path %s/>" % attrs(d=" ".join(marks), stroke=FRAME, stroke_width=1))
        out.append(text(self.pl + self.pw / 2, self.pb + 34, xlabel, anchor="middle", class_="axis-label"))
        ly = top + self.ph / 2
        out.append(
            text(
                self.left + 16,
                ly,
                ylabel,
                anchor="middle",
                transform="rotate(-90 %.1f %.1f)" % (self.left + 16, ly),
                class_="axis-label",
            )
        )
        out.append(self.key_svg())
        out.append("</g>")
        return "\n".join(out)


def decimate(log, panel, name, xs, ys, max_pts, what):
    """The module's screen mapping of a series in a panel (every point kept when max_pts >= len)."""
    args = (xs, ys, max_pts, *panel.window, *panel.rect, False, panel.logy)
    return log.call(name, cy.decimated_to_screen_cy, len(xs), args, lambda r: r[1], lambda r: what)


def extremes(log, panel, name, xs, ys, what):
    """The per-column extremes of a long series in a panel, snapped: each kept point at its
    pixel's centre (README: which renderers then draw exactly the picture of all the points)."""
    def m4_to_screen(*args):
        return kernels.m4_to_screen(*args, snap=True)

    args = (xs, ys, *panel.window, *panel.rect, False, panel.logy)
    return log.call(name, m4_to_screen, len(xs), args, lambda r: r[1], lambda r: what)


def fn_curve(log, panel, name, xs, ys):
    def gaps(r):
        buf, count = r
        k = 1 + sum(1 for k in range(count) if buf[2 * k] >= GAP)
        return "%d segment%s" % (k, "s" if k > 1 else "")

    return log.call(
        name, cy.fn_to_screen_cy, len(xs), (xs, ys, *panel.window, *panel.rect), lambda r: r[1], gaps
    )


# ----------------------------------------------------------------------------------------------
# The six panels


def walk_panels(log, n, xs, ys):
    """Panels 1-3: the walk on linear and log axes, and a zoom with the cursor hit test."""
    lo, hi = min(ys), max(ys)
    pad = (hi - lo) * 0.06 or 1.0

    walk = Panel(
        "walk",
        0,
        "Random walk of {:,} points".format(n),
        "m4_to_screen, snapped: each column's extremes at pixel centres",
    )
    walk.view(0.0, float(n - 1), lo - pad, hi - lo + 2 * pad)
    buf, cnt = extremes(log, walk, "walk", xs, ys, "the extremes of each pixel column")
    walk.line(buf, cnt, BLUE, 1.1, class_="series", id="walk-line")

    # Zoom window: a couple of hundred steps from 62% of the series on, with room below the
    # lowest point for the cursor.
    w = min(240, n)
    i0 = min(int(n * 0.62), n - w)
    zx, zy = xs[i0 : i0 + w], ys[i0 : i0 + w]
    zlo, zhi = min(zy), max(zy)
    zspan = (zhi - zlo) or 1.0
    zoom = Panel(
        "zoom", 2, "Nearest point to the cursor", "nearest_on_segments_cy on all {:,} points".format(n)
    )
    zoom.view(zx[0], zx[-1] - zx[0], zlo - 0.3 * zspan, 1.42 * zspan)

    # The zoomed region outlined in the overview.
    box, _ = decimate(
        log, walk, "walk", [zx[0], zx[-1]], [zoom.y0, zoom.y0 + zoom.dy], 2, "corners of the zoomed region"
    )
    (bx0, by0), (bx1, by1) = pairs(box, 2)
    walk.body.append(
        "<rect %s/>"
        % attrs(
            x="%.1f" % (min(bx0, bx1) - 1),
            y="%.1f" % min(by0, by1),
            width="%.1f" % (abs(bx1 - bx0) + 2),
            height="%.1f" % abs(by1 - by0),
            fill=ORANGE,
            fill_opacity=0.25,
            stroke=ORANGE,
            stroke_width=1.2,
            class_="zoom-box",
        )
    )
    walk.legend([(BLUE, "line", "{:,} points drawn".format(cnt)), (ORANGE, "area", "region zoomed at right")])

    # Log axis: |walk| + 1 spans a few decades; the view is given in decades.
    pos = [abs(y) + 1.0 for y in ys]
    decades = max(1.0, math.ceil(math.log10(max(pos))))
    logp = Panel(
        "log", 1, "|walk| + 1 on a log y axis", "m4_to_screen with ly=True, view in decades"
    )
    logp.view(0.0, float(n - 1), 0.0, decades, logy=True)
    lbuf, lcnt = extremes(log, logp, "log", xs, pos, "the series on a log y axis")
    logp.line(lbuf, lcnt, PURPLE, 1.1, class_="series", id="log-line")
    logp.legend([(PURPLE, "line", "{:,} of {:,} points drawn".format(lcnt, n))])

    # The zoom panel: the visible part of the series, and a cursor below its lowest point.
    zbuf, zcnt = decimate(log, zoom, "zoom", zx, zy, int(zoom.pw), "the visible steps")
    zoom.line(zbuf, zcnt, BLUE, 1.5, class_="series", id="zoom-line")
    ic = i0 + zy.index(zlo)
    anchor, _ = decimate(log, zoom, "zoom", [xs[ic]], [ys[ic]], 1, "the lowest visible point")
    mx, my = anchor[0] + 18.0, anchor[1] + 30.0
    hit = log.call(
        "zoom",
        cy.nearest_on_segments_cy,
        n,
        (mx, my, xs, ys, *zoom.window, *zoom.rect, False, False),
        lambda r: 0 if r is None else 1,
        lambda r: "x=%.1f y=%.2f at %.1f px" % r,
    )
    nx, ny, dist = hit
    near, _ = decimate(log, zoom, "zoom", [nx], [ny], 1, "marker of the nearest point")
    px, py = near[0], near[1]
    zoom.body.append(
        "<line %s/>"
        % attrs(
            x1="%.1f" % mx,
            y1="%.1f" % my,
            x2="%.1f" % px,
            y2="%.1f" % py,
            stroke=RED,
            stroke_width=1.3,
            stroke_dasharray="4 3",
            class_="hit-line",
        )
    )
    zoom.body.append(
        "<circle %s/>"
        % attrs(
            cx="%.1f" % px,
            cy="%.1f" % py,
            r=4.5,
            fill=RED,
            stroke="white",
            stroke_width=1.2,
            class_="nearest",
        )
    )
    zoom.body.append(cursor(mx, my))
    zoom.body.append(
        text(
            mx + 12,
            my + 16,
            "%.1f px" % dist,
            fill=RED,
            weight="bold",
            class_="distance",
            stroke="white",
            stroke_width=3,
            paint_order="stroke",
        )
    )
    zoom.legend(
        [
            (INK, "cursor", "cursor"),
            (
                RED,
                "dot",
                "nearest: step {}, y = {}".format("{:,.1f}".format(nx).rstrip("0").rstrip("."), fmt(ny)),
            ),
        ]
    )
    major, minor = decade_ticks(logp.y0, logp.dy)
    return [
        (walk, linear_ticks(walk.x0, walk.dx), linear_ticks(walk.y0, walk.dy), "step", "position", ()),
        (logp, linear_ticks(logp.x0, logp.dx), major, "step", "|position| + 1", minor),
        (zoom, linear_ticks(zoom.x0, zoom.dx, 4), linear_ticks(zoom.y0, zoom.dy), "step", "position", ()),
    ]


def cursor(x, y):
    return '<g class="cursor">%s%s</g>' % (
        "<circle %s/>" % attrs(cx="%.1f" % x, cy="%.1f" % y, r=7, fill="none", stroke=INK, stroke_width=1.3),
        "<path %s/>"
        % attrs(
            d="M%.1f %.1fh6M%.1f %.1fh-6M%.1f %.1fv6M%.1f %.1fv-6" % (x + 3, y, x - 3, y, x, y + 3, x, y - 3),
            stroke=INK,
            stroke_width=1.3,
        ),
    )


def gaps_panel(log):
    p = Panel("gaps", 3, "Curves with gaps", "fn_to_screen_cy: a None sample cuts the path")
    p.view(-2 * math.pi, 4 * math.pi, -4.0, 8.0)
    xs = linspace(-2 * math.pi, 2 * math.pi, 2001)
    tan = [math.tan(x) if abs(math.cos(x)) > 0.02 else None for x in xs]
    root = [3.0 * math.sqrt(math.sin(x)) if math.sin(x) >= 0 else None for x in xs]
    tbuf, tcnt = fn_curve(log, p, "gaps", xs, tan)
    rbuf, rcnt = fn_curve(log, p, "gaps", xs, root)
    p.line(tbuf, tcnt, BLUE, 1.6, class_="series", id="tan-line")
    p.line(rbuf, rcnt, GREEN, 1.8, class_="series", id="root-line")
    p.legend([(BLUE, "line", "tan x, None near its poles"), (GREEN, "line", "3\u00b7\u221a(sin x)")])
    return (p, pi_ticks(p.x0, p.dx), linear_ticks(p.y0, p.dy), "x", "y", ())


def fit_panel(log, rnd):
    p = Panel("fit", 4, "Cubic fit to noisy data", "polyfit_cy, the fit drawn with fn_to_screen_cy")
    true = [0.04, -0.55, 1.8, 1.0]
    xs = sorted(rnd.uniform(0.0, 10.0) for _ in range(160))
    ys = [horner(true, x) + rnd.gauss(0.0, 0.45) for x in xs]
    coeffs = log.call(
        "fit",
        cy.polyfit_cy,
        len(xs),
        (xs, ys, 3),
        len,
        lambda c: "coefficients " + ", ".join("%.3g" % v for v in c),
    )
    lo, hi = min(ys), max(ys)
    p.view(0.0, 10.0, math.floor(lo - 0.5), math.ceil(hi + 0.5) - math.floor(lo - 0.5))
    dots, cnt = decimate(log, p, "fit", xs, ys, len(xs), "the samples as dots")
    p.body.append(
        "<g %s>%s</g>"
        % (
            attrs(fill=ORANGE, fill_opacity=0.6, class_="samples"),
            "".join('<circle cx="%.1f" cy="%.1f" r="2.6"/>' % xy for xy in pairs(dots, cnt)),
        )
    )
    fx = linspace(0.0, 10.0, 400)
    fbuf, fcnt = fn_curve(log, p, "fit", fx, [horner(coeffs, x) for x in fx])
    p.line(fbuf, fcnt, BLUE, 2.2, class_="series", id="fit-line")
    p.legend([(ORANGE, "dot", "%d samples" % len(xs)), (BLUE, "line", poly_text(coeffs))])
    return (p, linear_ticks(p.x0, p.dx), linear_ticks(p.y0, p.dy), "x", "y", ())


def poly_text(c):
    powers = ["x\u00b3", "x\u00b2", "x", ""]
    out = "%.3g%s" % (c[0], powers[0])
    for v, pw in zip(c[1:], powers[1:]):
        out += " %s %.3g%s" % ("\u2212" if v < 0 else "+", abs(v), pw)
    return out.replace("-", "\u2212")


def area_panel(log):
    p = Panel("area", 5, "Area over a window", "trapezoid_integral_cy; curve by decimated_to_screen_cy")
    xs = linspace(0.0, 10.0, 1000)
    ys = [2.2 * math.exp(-((x - 4.0) ** 2) / 3.0) + 0.35 * math.sin(3.0 * x) + 0.6 for x in xs]
    lo, hi = 2.5, 6.0
    p.view(0.0, 10.0, 0.0, 3.5)
    area = log.call(
        "area", cy.trapezoid_integral_cy, len(xs), (xs, ys, lo, hi), lambda r: 1, lambda r: "area %.6g" % r
    )
    # The shaded polygon: the points the integral counts, closed along y = 0.
    wx = [x for x in xs if lo <= x <= hi]
    wy = [y for x, y in zip(xs, ys) if lo <= x <= hi]
    poly, pcnt = decimate(
        log, p, "area", wx + [wx[-1], wx[0]], wy + [0.0, 0.0], len(wx) + 2, "the shaded window"
    )
    p.body.append(
        "<path %s/>"
        % attrs(d=path_d(poly, pcnt) + " Z", fill=GREEN, fill_opacity=0.22, stroke="none", class_="area")
    )
    edges, _ = decimate(log, p, "area", [lo, lo, hi, hi], [0.0, 3.5, 0.0, 3.5], 4, "the window's edges")
    (ax0, ay0), (ax1, ay1), (bx0, by0), (bx1, by1) = pairs(edges, 4)
    for x0_, y0_, x1_, y1_ in ((ax0, ay0, ax1, ay1), (bx0, by0, bx1, by1)):
        p.body.append(
            "<line %s/>"
            % attrs(
                x1="%.1f" % x0_,
                y1="%.1f" % y0_,
                x2="%.1f" % x1_,
                y2="%.1f" % y1_,
                stroke=GREEN,
                stroke_width=1,
                stroke_dasharray="3 3",
            )
        )
    cbuf, ccnt = decimate(log, p, "area", xs, ys, int(p.pw), "the curve")
    p.line(cbuf, ccnt, INK, 1.6, class_="series", id="area-line")
    p.legend([(INK, "line", "y(x)"), (GREEN, "area", "\u222b y dx from %g to %g = %.4f" % (lo, hi, area))])
    p.body.append(
        text(
            (ax0 + bx0) / 2,
            (ay0 + ay1) / 2 + 52,
            "%.4f" % area,
            size=15,
            weight="bold",
            anchor="middle",
            fill="#1d5e3a",
            class_="integral",
            stroke="white",
            stroke_width=3,
            paint_order="stroke",
        )
    )
    return (p, linear_ticks(p.x0, p.dx), linear_ticks(p.y0, p.dy), "x", "y", ())


def spikes_panel(log, n, rnd):
    """A noisy series with rare one-point spikes, drawn by its per-column extremes and, on top,
    strided by decimated_to_screen_cy to as many points: striding keeps only the spikes it
    happens to land on."""
    p = Panel(
        "spikes",
        6,
        "What striding loses: {:,} points of noise with rare one-point spikes".format(n),
        "m4_to_screen keeps every pixel column's extremes; decimated_to_screen_cy, strided to as "
        "many points, keeps what its stride lands on",
        span=COLS,
    )
    xs = [float(i) for i in range(n)]
    ys = [rnd.gauss(0.0, 1.0) for _ in range(n)]
    at = sorted(rnd.sample(range(1, n - 1), min(24, n // 1000 + 1)))
    for k, i in enumerate(at):
        ys[i] = (1 if k % 3 else -1) * rnd.uniform(8.0, 16.0)
    p.view(0.0, float(n - 1), -18.0, 36.0)
    mbuf, mcnt = extremes(log, p, "spikes", xs, ys, "every column's extremes")
    sbuf, scnt = decimate(log, p, "spikes", xs, ys, mcnt, "strided to as many points")
    tips, _ = decimate(log, p, "spikes", [xs[i] for i in at], [ys[i] for i in at], len(at), "the spikes")
    tips = pairs(tips, len(at))
    # The extremes come back snapped to pixel centres, the strided points where they map.
    centres = {(math.floor(x) + 0.5, math.floor(y) + 0.5) for x, y in tips}
    kept = [len(centres & set(pairs(mbuf, mcnt))), len(set(tips) & set(pairs(sbuf, scnt)))]
    p.line(mbuf, mcnt, BLUE, 1.1, class_="series", id="spikes-m4")
    p.line(sbuf, scnt, ORANGE, 1.1, class_="series", id="spikes-strided", stroke_opacity=0.9)
    p.legend(
        [
            (BLUE, "line", "m4_to_screen: {:,} points, {} of {} spikes".format(mcnt, kept[0], len(at))),
            (ORANGE, "line", "strided to {:,} points: {} of {} spikes".format(scnt, kept[1], len(at))),
        ]
    )
    return (p, linear_ticks(p.x0, p.dx, 8), linear_ticks(p.y0, p.dy), "sample", "value", ())


# ----------------------------------------------------------------------------------------------
# The series index on a series too long to scan on every mouse move


def index_readout(n, seed, out):
    """A random walk of n float64 points in a memory-mapped file, hit-tested and redrawn through
    a kernels.SeriesIndex and by the full scans, with the times of both (needs numpy)."""
    try:
        import numpy as np
    except ImportError:
        print("series index: skipped (numpy is not installed)", file=out)
        return
    import tempfile

    rng = np.random.default_rng(seed)
    # A file in memory where the system has such a place: the readout is about queries, and
    # writing gigabytes to a disk would take most of its time.
    shm = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
    with tempfile.TemporaryDirectory(dir=shm) as tmp:
        path = os.path.join(tmp, "walk.f8")
        t0 = time.perf_counter()
        xy = np.memmap(path, np.float64, "w+", shape=(2, n))
        xy[0] = np.arange(n, dtype=np.float64)
        for s in range(0, n, 1 << 24):  # in slices: the steps of 10^8 points would take 800 MB
            e = min(n, s + (1 << 24))
            xy[1, s:e] = np.cumsum(rng.random(e - s) - 0.5) + (xy[1, s - 1] if s else 0.0)
        xy.flush()
        written = time.perf_counter() - t0
        x, y = xy[0], xy[1]
        lo, hi = float(y.min()), float(y.max())
        view = (0.0, float(n), lo, (hi - lo) or 1.0, 0.0, 246.0, 322.0, 246.0, 0, 0)
        print(
            "series index: a random walk of {:,} float64 points in a memory-mapped file "
            "({:.1f} GB, written in {:.1f} s)".format(n, 16 * n / 1e9, written),
            file=out,
        )
        t0 = time.perf_counter()
        index = kernels.SeriesIndex(x, y)
        built = time.perf_counter() - t0
        print(
            "  built in {:.1f} ms, bounds {:,} bytes ({:.2f} % of the data)".format(
                built * 1e3, index.nbytes, 100.0 * index.nbytes / (16 * n)
            ),
            file=out,
        )
        # Cursors near the curve, as a mouse over the plot would be.
        cursors = []
        for i in rng.integers(0, n, size=200):
            py = 246.0 - (float(y[i]) - lo) / ((hi - lo) or 1.0) * 246.0
            cursors.append((float(i) / n * 322.0, py + float(rng.normal(0, 8))))
        times, same = [], True
        for mx, my in cursors:
            t0 = time.perf_counter()
            hit = index.nearest_on_segments(mx, my, *view)
            times.append(time.perf_counter() - t0)
        scans = []
        for mx, my in cursors[:3]:
            t0 = time.perf_counter()
            want = kernels.nearest_on_segments(mx, my, x, y, *view)
            scans.append(time.perf_counter() - t0)
            same = same and want == index.nearest_on_segments(mx, my, *view)
        times.sort()
        scan = sorted(scans)[len(scans) // 2]
        median = times[len(times) // 2]
        print(
            "  hover: nearest_on_segments through the index {:.1f} us median, {:.1f} us at most "
            "(200 cursors); the full scan {:.1f} ms: {:,.0f}x faster, {}".format(
                median * 1e6,
                times[-1] * 1e6,
                scan * 1e3,
                scan / median,
                "the same results" if same else "DIFFERENT RESULTS",
            ),
            file=out,
        )
        # Redraws of the whole view and of a zoom to 1 %, as a pan or zoom asks for them.
        parts = []
        for frac in (1.0, 0.01):
            w = n * frac
            v = (n / 2 - w / 2, w) + view[2:]
            redraws = []
            for _ in range(11):
                t0 = time.perf_counter()
                got = index.m4_to_screen(*v, snap=True)
                redraws.append(time.perf_counter() - t0)
            t0 = time.perf_counter()
            want = kernels.m4_to_screen(x, y, *v, x_sorted=True, snap=True)
            scan = time.perf_counter() - t0
            same = same and got[0].tobytes() == want[0].tobytes()
            parts.append(
                "{} {:.2f} ms through the index, {:.2f} ms by the sorted full scan".format(
                    "the whole view" if frac == 1 else "1 % of it", sorted(redraws)[5] * 1e3,
                    scan * 1e3,
                )
            )
        print(
            "  redraw: m4_to_screen(snap=True) of {}: {}".format(
                "; ".join(parts), "the same results" if same else "DIFFERENT RESULTS"
            ),
            file=out,
        )
        del index, x, y, xy


def render(panels, n, seconds):
    head = [
        '<?xml version="1.0" encoding="UTF-8"?>',
        '<svg xmlns="http://www.w3.org/2000/svg" %s>'
        % attrs(width=WIDTH, height=HEIGHT, viewBox="0 0 %d %d" % (WIDTH, HEIGHT), font_family=FONT),
        "<rect %s/>" % attrs(width=WIDTH, height=HEIGHT, fill="#eef1f5"),
        text(
            15,
            30,
            "skyloom: one picture, six native functions",
            size=19,
            weight="bold",
            class_="heading",
        ),
        text(
            15,
            50,
            "Every drawn series, marker and area below is a pixel position returned by skyloom._cy_utils "
            "or skyloom.kernels; the demo only lays out panels, axes and ticks.",
            size=12,
            fill=MUTED,
        ),
    ]
    body = [p.svg(xt, yt, xl, yl, minor) for p, xt, yt, xl, yl, minor in panels]
    foot = [
        text(
            WIDTH - 15,
            HEIGHT - 12,
            "python -m skyloom.demo --n %d  \u00b7  module calls took %.1f ms in all" % (n, seconds * 1e3),
            size=11,
            fill=MUTED,
            anchor="end",
        )
    ]
    return "\n".join(head + body + foot + ["</svg>", ""])


def main(argv=None, out=None):
    """Draws the picture and returns its absolute path; the call log goes to out (stdout)."""
    out = sys.stdout if out is None else out
    ap = argparse.ArgumentParser(prog="python -m skyloom.demo", description=__doc__.splitlines()[0])
    ap.add_argument(
        "--out", default="skyloom-demo.svg", help="where to write the picture (default: %(default)s)"
    )
    ap.add_argument("--n", type=int, default=10**6, help="points in the random walk (default: %(default)s)")
    ap.add_argument("--seed", type=int, default=1, help="seed of the random data (default: %(default)s)")
    ap.add_argument(
        "--index-n",
        type=int,
        default=10**8,
        help="points of the memory-mapped series hit-tested through the series index "
        "(default: %(default)s; 0: none)",
    )
    args = ap.parse_args(argv)
    if args.n < 10:
        ap.error("--n must be at least 10")
    if args.index_n < 0:
        ap.error("--index-n must not be negative")

    try:
        # Opened first: a path that cannot be written is reported before any work.
        target = open(args.out, "w", encoding="utf-8")
    except OSError as e:
        ap.exit(1, "%s: cannot write %s: %s\n" % (ap.prog, args.out, e.strerror or e))
    rnd = random.Random(args.seed)
    print(
        "skyloom demo: a random walk of {:,} points (seed {}), drawn into {}".format(
            args.n, args.seed, args.out
        ),
        file=out,
    )
    xs, ys = random_walk(args.n, rnd)
    log = CallLog(out)
    panels = walk_panels(log, args.n, xs, ys) + [gaps_panel(log), fit_panel(log, rnd), area_panel(log)]
    panels.append(spikes_panel(log, args.n, random.Random(args.seed + 1)))
    seconds = sum(row[4] for row in log.rows) / 1e3
    svg = render(panels, args.n, seconds)
    try:
        with target:
            target.write(svg)
    except OSError as e:
        ap.exit(1, "%s: cannot write %s: %s\n" % (ap.prog, args.out, e.strerror or e))
    path = os.path.abspath(args.out)
    if args.index_n:
        index_readout(args.index_n, args.seed, out)
    print(
        "%d calls, %.1f ms in the module. Picture: %s (open it in a web browser)"
        % (len(log.rows), seconds * 1e3, path),
        file=out,
    )
    return path


if __name__ == "__main__":
    main()
