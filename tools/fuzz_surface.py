"""Coverage-guided fuzzing of the Python surface with atheris: each input becomes one call of one
of the five functions (tests/surface_calls.py), whose outcome must be the plain-Python model's.

    python tools/fuzz_surface.py --seconds 60 [corpus directories ...] [libFuzzer options]
"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))

from surface_calls import check  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("corpus", nargs="*")
    args, rest = parser.parse_known_args()
    import atheris

    corpus = args.corpus or [os.path.join("build", "fuzz", "corpus", "surface"),
                             os.path.join("fuzz", "corpus", "surface")]
    for d in corpus:
        os.makedirs(d, exist_ok=True)
    atheris.instrument_all()  # the model's branches and the call builder's guide the fuzzer
    # libFuzzer re-runs argv[0] through the shell for -merge=1: name the interpreter too.
    me = "%s %s" % (sys.executable, os.path.abspath(__file__))
    argv = [me, "-max_total_time=%d" % args.seconds, "-print_final_stats=1",
            "-max_len=512", "-len_control=0", "-artifact_prefix=build/fuzz/surface-"] + rest + corpus
    atheris.Setup(argv, check)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
