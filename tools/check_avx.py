"""Where a built module runs AVX code: only in the AVX2 versions of the vector kernels (the
`Versions<...>::avx2` functions of src/native/simd.h), which their entries call only on a CPU that
has AVX2. An AVX instruction anywhere else would fault on the older CPUs the baseline is for. Reads
the disassembly of unstripped modules (objdump, demangled); exits with status 1 on a fault.

    python tools/check_avx.py module.so...          # AVX only in the AVX2 versions, and there
    python tools/check_avx.py --none module.so...   # no AVX at all (the build without vectors)
"""
import argparse
import re
import subprocess
import sys

# VEX and EVEX encoded instructions: AT&T mnemonics v..., or a ymm or zmm operand.
AVX = re.compile(r"^\s*[0-9a-f]+:\s+(v[a-z0-9]+\b|.*%[yz]mm)")
FUNCTION = re.compile(r"^[0-9a-f]+ <(.*)>:$")
VERSION = re.compile(r"skyloom::simd::Versions<.*>::avx2\(")


def avx_by_function(path):
    """{function: count of AVX instructions} over the text of the module."""
    out = subprocess.run(["objdump", "-d", "-C", "--no-show-raw-insn", path],
                         capture_output=True, text=True, check=True).stdout
    counts, current = {}, None
    for line in out.splitlines():
        m = FUNCTION.match(line)
        if m:
            current = m.group(1)
        elif current is not None and AVX.match(line):
            counts[current] = counts.get(current, 0) + 1
    return counts


def stripped(path):
    sections = subprocess.run(["readelf", "-S", "-W", path], capture_output=True, text=True,
                              check=True).stdout
    return ".symtab" not in sections


def faults(path, none):
    if stripped(path):
        return ["no symbol table (stripped): nothing to tell the versions apart by"]
    counts = avx_by_function(path)
    if none:
        return ["%s: %d AVX instructions" % (f, n) for f, n in sorted(counts.items())]
    found = ["%s: %d AVX instructions outside the AVX2 versions" % (f, n)
             for f, n in sorted(counts.items()) if not VERSION.search(f)]
    if not any(VERSION.search(f) for f in counts):
        found.append("no AVX2 version with AVX code: the versions were not built")
    return found


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--none", action="store_true", help="no AVX instruction at all")
    ap.add_argument("modules", nargs="+")
    args = ap.parse_args(argv)
    bad = 0
    for path in args.modules:
        found = faults(path, args.none)
        for f in found:
            print("%s: %s" % (path, f))
        bad += len(found)
        if not found:
            print("%s: %s" % (path, "no AVX" if args.none else "AVX only in the AVX2 versions"))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
