"""The native sources' folders follow the build graph: the numeric cores include only cores (no
Python), the shared Python layer includes cores and itself, and each module's frame includes
those and itself, never the other module's."""
import re
from pathlib import Path

NATIVE = Path(__file__).resolve().parent.parent / "src" / "native"
CORES = {"source", "mapping", "screen", "analysis", "index", "simd"}
MAY_INCLUDE = {
    **{core: CORES for core in CORES},
    "python": CORES | {"python"},
    "cy_utils": CORES | {"python", "cy_utils"},
    "kernels": CORES | {"python", "kernels"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+([<"])([^>"]+)[>"]', re.M)


def folder(path):
    """The layer of a source file, or of an include path: its first folder, or "simd"."""
    parts = Path(path).parts
    return parts[0] if len(parts) > 1 else Path(path).stem


def test_includes_follow_the_layers():
    sources = sorted(p for p in NATIVE.rglob("*") if p.suffix in (".h", ".cpp"))
    assert len(sources) > 40
    wrong = []
    for path in sources:
        name = str(path.relative_to(NATIVE))
        layer = folder(name)
        if layer not in MAY_INCLUDE:
            wrong.append("%s: in no known layer" % name)
            continue
        for kind, included in INCLUDE.findall(path.read_text()):
            # No Python in a core, not even through a system include.
            if (kind == '"' and folder(included) not in MAY_INCLUDE[layer]) or (
                    layer in CORES and included == "Python.h"):
                wrong.append("%s includes %s" % (name, included))
    assert not wrong
