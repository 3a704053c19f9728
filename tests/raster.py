"""One polyline drawn by each renderer a plotting package may use, as rows of 8-bit coverage
(0 background, 255 full), so that two drawings can be compared pixel by pixel. Each renderer is
imported when first used; RENDERERS names them with their settings, and unavailable() says why
one cannot be had here."""
import math
import os

# Renderer name -> (package that draws, settings in words). The settings are those the pixel
# guarantee is stated for: 1-pixel lines, round joins, no simplification or snapping of their own.
RENDERERS = {
    "pillow": ("PIL", "ImageDraw.line, width 1"),
    "agg": ("matplotlib", "Agg, antialiased=False, 1 px, round joins, snap and simplify off"),
    "agg-aa": ("matplotlib", "Agg, antialiased, 1 px, round joins, snap and simplify off"),
    "cairo": ("cairo", "ANTIALIAS_NONE, width 1, round joins"),
    "cairo-aa": ("cairo", "default antialiasing, width 1, round joins"),
    "skia": ("skia", "antialiasing off, stroke 1, round joins"),
    "skia-aa": ("skia", "antialiased, stroke 1, round joins"),
    # Skia draws an antialiased stroke of at most 1 pixel as a hairline: a hair wider is filled.
    "skia-aa-wide": ("skia", "antialiased, stroke 1.0001, round joins"),
    "skia-hair": ("skia", "antialiasing off, hairline (stroke 0)"),
    "skia-hair-aa": ("skia", "antialiased hairline (stroke 0)"),
    "qt": ("PySide6", "QPainter.drawPolyline, antialiasing off, cosmetic pen (width 0)"),
}

_np = None


def _numpy():
    global _np
    if _np is None:
        import numpy

        _np = numpy
    return _np


def unavailable(name):
    """None when renderer `name` can draw here, else the reason it cannot."""
    module = RENDERERS[name][0]
    try:
        __import__(module)
        _numpy()
        if module == "PySide6":
            _qt_app()
    except Exception as e:  # an import or a platform plugin that fails: the reason is the text
        return "%s: %s: %s" % (module, type(e).__name__, e)
    return None


def draw(name, points, width, height):
    """The polyline through `points` ((px, py) pairs, y down) drawn by renderer `name` on a
    width x height image: a height x width uint8 array of coverage."""
    return _DRAW[name.split("-")[0]](name, list(points), width, height)


def compare(name, full, kept, pl, pw, height):
    """(differing pixels, largest grey-level difference) between the drawings of two point lists
    by renderer `name`, in the plot's columns floor(pl) .. floor(pl + pw)."""
    lo, hi = math.floor(pl), math.floor(pl + pw)
    # Pillow truncates toward zero (x in [-1, 0) lands in column 0), and cairo's aliased fill of
    # an outline cut at the image's left edge lights column 0 where no stroke is: both draw with
    # the plot's columns one pixel in from that edge, which a whole-pixel shift leaves as they are.
    shift = 1 if name in ("pillow", "cairo") else 0
    width = hi + 3 + shift
    a, b = (draw(name, [(x + shift, y) for x, y in pts], width, height) for pts in (full, kept))
    a = a[:, max(lo + shift, 0):hi + 1 + shift].astype(int)
    b = b[:, max(lo + shift, 0):hi + 1 + shift].astype(int)
    d = abs(a - b)
    return int((d > 0).sum()), int(d.max()) if d.size else 0


def _pillow(name, points, width, height):
    from PIL import Image, ImageDraw

    img = Image.new("L", (width, height), 0)
    if len(points) >= 2:
        ImageDraw.Draw(img).line(points, fill=255, width=1)
    elif points:
        ImageDraw.Draw(img).point(points, fill=255)
    return _numpy().asarray(img).copy()


def _agg(name, points, width, height):
    from matplotlib.backends.backend_agg import RendererAgg
    from matplotlib.path import Path
    from matplotlib.transforms import Affine2D

    r = RendererAgg(width, height, 72)  # 72 dpi: a line width of 1 point is 1 pixel
    if len(points) >= 2:
        gc = r.new_gc()
        gc.set_linewidth(1.0)
        gc.set_antialiased(name == "agg-aa")
        gc.set_snap(False)
        gc.set_joinstyle("round")
        gc.set_capstyle("butt")
        gc.set_foreground((1, 1, 1))
        path = Path(points)
        path.should_simplify = False
        # The renderer's y grows upwards from the bottom of the image.
        r.draw_path(gc, path, Affine2D().scale(1, -1).translate(0, height))
    return _numpy().asarray(r.buffer_rgba())[:, :, 3].copy()


def _cairo(name, points, width, height):
    import cairo

    surface = cairo.ImageSurface(cairo.FORMAT_A8, width, height)
    ctx = cairo.Context(surface)
    ctx.set_antialias(cairo.ANTIALIAS_DEFAULT if name == "cairo-aa" else cairo.ANTIALIAS_NONE)
    ctx.set_line_width(1.0)
    ctx.set_line_join(cairo.LINE_JOIN_ROUND)
    if len(points) >= 2:
        ctx.move_to(*points[0])
        for p in points[1:]:
            ctx.line_to(*p)
        ctx.stroke()
    surface.flush()
    np = _numpy()
    rows = np.frombuffer(surface.get_data(), np.uint8).reshape(height, surface.get_stride())
    return rows[:, :width].copy()


def _skia(name, points, width, height):
    import skia

    surface = skia.Surface(width, height)
    canvas = surface.getCanvas()
    canvas.clear(skia.ColorTRANSPARENT)
    if len(points) >= 2:
        paint = skia.Paint(
            Color=skia.ColorWHITE,
            AntiAlias="-aa" in name,
            Style=skia.Paint.kStroke_Style,
            StrokeWidth={"skia-hair": 0.0, "skia-hair-aa": 0.0, "skia-aa-wide": 1.0001}.get(name, 1.0),
            StrokeJoin=skia.Paint.kRound_Join,
        )
        path = skia.Path()
        path.moveTo(*points[0])
        for p in points[1:]:
            path.lineTo(*p)
        canvas.drawPath(path, paint)
    return surface.toarray()[:, :, 3].copy()


_app = None


def _qt_app():
    global _app
    os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
    from PySide6.QtGui import QGuiApplication

    if _app is None:
        _app = QGuiApplication.instance() or QGuiApplication([])
    return _app


def _qt(name, points, width, height):
    from PySide6.QtCore import QPointF
    from PySide6.QtGui import QColor, QImage, QPainter, QPen, QPolygonF

    _qt_app()
    img = QImage(width, height, QImage.Format_Alpha8)
    img.fill(0)
    if len(points) >= 2:
        painter = QPainter(img)
        pen = QPen(QColor(255, 255, 255))
        pen.setWidth(0)
        painter.setPen(pen)
        painter.drawPolyline(QPolygonF([QPointF(x, y) for x, y in points]))
        painter.end()
    np = _numpy()
    rows = np.frombuffer(bytes(img.constBits()), np.uint8).reshape(height, img.bytesPerLine())
    return rows[:, :width].copy()


_DRAW = {"pillow": _pillow, "agg": _agg, "cairo": _cairo, "skia": _skia, "qt": _qt}
