"""Runs every benchmark in bench/ and writes their rows to bench/results/latest.jsonl."""
import importlib
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)


def main():
    out_dir = os.path.join(HERE, "results")
    os.makedirs(out_dir, exist_ok=True)
    out = os.path.join(out_dir, "latest.jsonl")
    open(out, "w").close()
    names = sorted(f[:-3] for f in os.listdir(HERE) if f.startswith("bench_") and f.endswith(".py"))
    for name in names:
        if len(sys.argv) > 1 and not any(a in name for a in sys.argv[1:]):
            continue
        importlib.import_module(name).main(out)
    print("results:", out)


if __name__ == "__main__":
    main()
