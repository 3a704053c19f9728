"""Summarises a valgrind memcheck XML report of the test suite: counts the errors by kind, and
fails (exit status 1, with their stacks) when any error other than a possible leak has a stack
that passes through the module. Possible leaks are objects that the collector's header makes
valgrind see only through an interior pointer; the interpreter's own reports are counted only."""
import sys
import xml.etree.ElementTree as ET
from collections import Counter

MODULE = "_cy_utils"
NOT_ERRORS = {"Leak_PossiblyLost", "Leak_StillReachable"}


def frames(error):
    for frame in error.iter("frame"):
        yield frame.findtext("obj") or "", frame.findtext("fn") or "?", frame.findtext("line")


def main(path):
    root = ET.parse(path).getroot()
    counts, ours = Counter(), []
    for error in root.findall("error"):
        kind = error.findtext("kind")
        mine = any(MODULE in obj for obj, _, _ in frames(error))
        counts[kind, "module" if mine else "elsewhere"] += 1
        if mine and kind not in NOT_ERRORS:
            ours.append(error)
    for (kind, where), n in sorted(counts.items()):
        print("valgrind: %6d %s (%s)" % (n, kind, where))
    for error in ours:
        what = error.find("xwhat")
        print("\n" + (what.findtext("text") if what is not None else error.findtext("what")))
        for obj, fn, line in frames(error):
            print("    %s %s%s" % (fn, obj.rsplit("/", 1)[-1], ":%s" % line if line else ""))
    print("valgrind: %d error(s) from the module's code" % len(ours))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
