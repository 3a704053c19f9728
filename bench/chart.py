"""Log-log chart of the suite's results: time per call against n, one solid line per function
(linear axes; polyfit at both degrees) and its floor dashed in the same colour.

    python bench/chart.py [bench/results/suite.json [chart.png]]

Needs matplotlib (benchmarking only; the package never does).
"""
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

LINES = [
    ("trapezoid_integral_cy", "", "trapezoid_integral_cy"),
    ("decimated_to_screen_cy", " linear", "decimated_to_screen_cy (2000 pts)"),
    ("polyfit_cy", " deg=3", "polyfit_cy deg 3"),
    ("polyfit_cy", " deg=9", "polyfit_cy deg 9"),
    ("nearest_on_segments_cy", " linear", "nearest_on_segments_cy"),
    ("fn_to_screen_cy", "", "fn_to_screen_cy"),
]


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    src = argv[0] if argv else os.path.join(HERE, "results", "suite.json")
    dst = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(src), "chart.png")
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("chart skipped: matplotlib is not installed")
        return
    with open(src) as f:
        rows = json.load(f)["rows"]

    fig, ax = plt.subplots(figsize=(7.5, 4.6), dpi=100)
    colours = plt.rcParams["axes.prop_cycle"].by_key()["color"]
    for k, (function, suffix, label) in enumerate(LINES):
        pts = sorted(
            (r["n"], r["seconds"]["module"], r["seconds"]["floor"])
            for r in rows
            if r["function"] == function and r["n"] > 0 and r["row"] == "n=%d%s" % (r["n"], suffix)
        )
        if not pts:
            continue
        n = [p[0] for p in pts]
        c = colours[k % len(colours)]
        ax.plot(n, [p[1] for p in pts], "o-", color=c, lw=1.6, ms=3.5, label=label)
        ax.plot(n, [p[2] for p in pts], "--", color=c, lw=1.0, alpha=0.8)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("items per list (n)")
    ax.set_ylabel("seconds per call")
    ax.set_title("skyloom._cy_utils: module (solid) against its floor (dashed)", fontsize=10)
    ax.grid(True, which="major", lw=0.4, alpha=0.6)
    ax.legend(fontsize=8, loc="upper left", frameon=False)
    fig.tight_layout()
    fig.savefig(dst, dpi=90, pil_kwargs={"optimize": True})
    print("chart:", dst)


if __name__ == "__main__":
    main()
