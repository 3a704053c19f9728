"""The demo end to end on small series: its SVG, the drawn panels and what it prints."""

import io
import math
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

import pytest

from skyloom import demo

SVG = "{http://www.w3.org/2000/svg}"
PANELS = ["walk", "log", "zoom", "gaps", "fit", "area", "spikes"]
FUNCTIONS = [
    "m4_to_screen",
    "decimated_to_screen_cy",
    "fn_to_screen_cy",
    "nearest_on_segments_cy",
    "trapezoid_integral_cy",
    "polyfit_cy",
]


def run(tmp_path, n):
    out = io.StringIO()
    path = demo.main(["--n", str(n), "--out", str(tmp_path / "d.svg"), "--index-n", str(3 * n)], out=out)
    return ET.parse(path).getroot(), out.getvalue()


def subpaths(d):
    """The point lists of the subpaths of an M/L path."""
    paths = []
    for cmd, x, y in re.findall(r"([ML])(-?[\d.]+) (-?[\d.]+)", d):
        if cmd == "M":
            paths.append([])
        paths[-1].append((float(x), float(y)))
    return paths


def plot_rect(panel):
    clip = panel.find(SVG + "clipPath/" + SVG + "rect")
    x, y, w, h = (float(clip.get(k)) for k in ("x", "y", "width", "height"))
    return x, y, x + w, y + h


def by_id(root, ident):
    return root.find(".//*[@id='%s']" % ident)


@pytest.fixture(scope="module", params=[10, 4000])
def drawn(request, tmp_path_factory):
    return (request.param,) + run(tmp_path_factory.mktemp("demo"), request.param)


def test_panels_titles_and_axes(drawn):
    n, root, _ = drawn
    panels = root.findall(SVG + "g[@class='panel']")
    assert [p.get("id") for p in panels] == ["panel-" + k for k in PANELS]
    for p in panels:
        assert p.find(SVG + "text[@class='title']").text.strip()
        ticks = p.findall(SVG + "text[@class='tick']")
        assert len(ticks) >= 4 and all(t.text for t in ticks)
        assert len(p.findall(SVG + "text[@class='axis-label']")) == 2


@pytest.mark.parametrize(
    "ident, pieces",
    [
        ("walk-line", 1),
        ("log-line", 1),
        ("zoom-line", 1),
        ("fit-line", 1),
        ("area-line", 1),
        ("spikes-m4", 1),
        ("spikes-strided", 1),
        ("tan-line", 5),
        ("root-line", 2),
    ],
)
def test_series_paths(drawn, ident, pieces):
    """Each series is one path; the gap separators split the curves and never leak in as points."""
    n, root, _ = drawn
    d = by_id(root, ident).get("d")
    parts = subpaths(d)
    assert len(parts) == pieces
    assert all(len(p) >= 2 for p in parts)
    assert all(abs(v) < 1e4 for p in parts for xy in p for v in xy)


@pytest.mark.parametrize("ident, panel", [("walk-line", "walk"), ("log-line", "log")])
def test_walk_is_decimated_into_its_plot(drawn, ident, panel):
    """At most six points per pixel column, the walk's first and last at the plot's edges:
    snapped to pixel centres, every point moves by less than a pixel."""
    n, root, _ = drawn
    x0, y0, x1, y1 = plot_rect(by_id(root, "panel-" + panel))
    (points,) = subpaths(by_id(root, ident).get("d"))
    columns = int(x1) - int(x0) + 1
    assert len(points) <= n if n <= columns else columns <= len(points) <= 6 * columns
    assert points[0][0] == pytest.approx(x0, abs=1) and points[-1][0] == pytest.approx(x1, abs=1)
    assert all(x0 - 1 <= x <= x1 + 1 and y0 - 1 <= y <= y1 + 1 for x, y in points)
    assert all(x % 1 == 0.5 and y % 1 == 0.5 for x, y in points)
    assert all(a[0] <= b[0] for a, b in zip(points, points[1:]))


def test_walk_keeps_its_extremes(drawn):
    """The walk's view pads its range by 6 % on both sides: its highest and lowest points, kept
    by the per-column extremes, lie that far inside the plot (less than a pixel off: snapped)."""
    n, root, _ = drawn
    x0, y0, x1, y1 = plot_rect(by_id(root, "panel-walk"))
    (points,) = subpaths(by_id(root, "walk-line").get("d"))
    pad = (y1 - y0) * 0.06 / 1.12
    assert min(y for _, y in points) - y0 == pytest.approx(pad, abs=1)
    assert y1 - max(y for _, y in points) == pytest.approx(pad, abs=1)


def test_spikes_kept_and_lost(drawn):
    """Every spike's tip is a vertex of the per-column extremes; the legend counts the spikes
    that each line reaches and the points that each kept."""
    n, root, _ = drawn
    panel = by_id(root, "panel-spikes")
    m4_line, strided = (subpaths(by_id(root, k).get("d"))[0] for k in ("spikes-m4", "spikes-strided"))
    keys = [t.text for t in panel.findall(".//" + SVG + "g[@class='key']/" + SVG + "text")]
    m = re.match(r"m4_to_screen: ([\d,]+) points, (\d+) of (\d+) spikes", keys[0])
    s = re.match(r"strided to ([\d,]+) points: (\d+) of (\d+) spikes", keys[1])
    assert m and s and m.group(1) == s.group(1) == "{:,}".format(len(m4_line)) and len(strided) == len(m4_line)
    assert m.group(2) == m.group(3) == s.group(3) and int(s.group(2)) <= int(m.group(2))
    # The tips stand out of the noise band (|y| <= about 5 in data units) in the drawn line.
    x0, y0, x1, y1 = plot_rect(panel)
    mid, unit = (y0 + y1) / 2, (y1 - y0) / 36
    assert sum(abs(y - mid) > 7.5 * unit for _, y in m4_line) >= int(m.group(3))


def test_nearest_point_and_its_distance(drawn):
    n, root, _ = drawn
    zoom = by_id(root, "panel-zoom")
    cursor = zoom.find(".//" + SVG + "g[@class='cursor']/" + SVG + "circle")
    mx, my = float(cursor.get("cx")), float(cursor.get("cy"))
    near = zoom.find(".//" + SVG + "circle[@class='nearest']")
    px, py = float(near.get("cx")), float(near.get("cy"))
    dist = float(zoom.find(".//" + SVG + "text[@class='distance']").text.split()[0])
    assert dist == pytest.approx(math.hypot(px - mx, py - my), abs=0.15)
    (line,) = subpaths(by_id(root, "zoom-line").get("d"))
    # The marker lies on the drawn line, and no drawn vertex is nearer the cursor.
    assert min(seg_distance(px, py, a, b) for a, b in zip(line, line[1:])) < 0.15
    assert min(math.hypot(x - mx, y - my) for x, y in line) >= dist - 0.15
    assert 29.9 <= dist <= 35.1  # the cursor sits 30 px below the lowest point and 18 px right


def seg_distance(px, py, a, b):
    sx, sy = b[0] - a[0], b[1] - a[1]
    t = max(0.0, min(1.0, ((px - a[0]) * sx + (py - a[1]) * sy) / (sx * sx + sy * sy or 1.0)))
    return math.hypot(a[0] + t * sx - px, a[1] + t * sy - py)


def test_shaded_area_and_its_value(drawn):
    """The printed integral matches the closed form over the samples inside the window."""
    n, root, _ = drawn
    xs = [10.0 * i / 999 for i in range(1000)]
    inside = [x for x in xs if 2.5 <= x <= 6.0]
    a, b = inside[0], inside[-1]

    def prim(x):
        return (
            2.2 * math.sqrt(3 * math.pi) / 2 * math.erf((x - 4) / math.sqrt(3))
            - 0.35 / 3 * math.cos(3 * x)
            + 0.6 * x
        )

    value = float(by_id(root, "panel-area").find(".//" + SVG + "text[@class='integral']").text)
    assert value == pytest.approx(prim(b) - prim(a), abs=2e-3)
    (poly,) = subpaths(by_id(root, "panel-area").find(".//" + SVG + "path[@class='area']").get("d"))
    assert len(poly) == len(inside) + 2
    assert poly[-1][1] == poly[-2][1] == plot_rect(by_id(root, "panel-area"))[3]  # closed along y = 0


def test_fit_samples(drawn):
    n, root, _ = drawn
    dots = by_id(root, "panel-fit").findall(".//" + SVG + "g[@class='samples']/" + SVG + "circle")
    assert len(dots) == 160


def test_terminal_report(drawn):
    n, _, printed = drawn
    lines = printed.splitlines()
    for name in FUNCTIONS:
        assert any(line.split()[:1] == [name] for line in lines), name
    walk = [line for line in lines if line.split()[:2] == ["m4_to_screen", "walk"]][0]
    assert walk.split()[2] == "{:,}".format(n)
    assert all(
        re.search(r"\d+\.\d{3} ms", line)
        for line in lines
        if line.split()[:1] and line.split()[0] in FUNCTIONS
    )
    # The series index readout: its series, build, hover against the full scan, redraw.
    at = lines.index(next(line for line in lines if line.startswith("series index: ")))
    assert "{:,} float64 points".format(3 * n) in lines[at]
    assert lines[at + 1].startswith("  built in ")
    assert lines[at + 2].startswith("  hover: ") and lines[at + 2].endswith("the same results")
    assert lines[at + 3].startswith("  redraw: ") and lines[at + 3].endswith("the same results")
    assert "Picture: " in lines[-1] and lines[-1].split("Picture: ")[1].split(" (")[0].endswith("d.svg")


def test_default_path_and_module_entry(tmp_path):
    done = subprocess.run(
        [sys.executable, "-m", "skyloom.demo", "--n", "500", "--index-n", "0"],
        cwd=str(tmp_path),
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    ET.parse(str(tmp_path / "skyloom-demo.svg"))
    assert str(tmp_path / "skyloom-demo.svg") in done.stdout


def test_an_unwritable_out_path_is_one_line_on_stderr(tmp_path):
    done = subprocess.run(
        [sys.executable, "-m", "skyloom.demo", "--n", "500", "--out", str(tmp_path / "no" / "d.svg")],
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        universal_newlines=True,
        timeout=120,
    )
    assert done.returncode != 0
    assert done.stderr.splitlines() == [
        "python -m skyloom.demo: cannot write %s: No such file or directory" % (tmp_path / "no" / "d.svg")
    ]


def test_too_small_a_series_is_refused(tmp_path):
    with pytest.raises(SystemExit):
        demo.main(["--n", "9", "--out", str(tmp_path / "x.svg")], out=io.StringIO())
    assert not (tmp_path / "x.svg").exists()
