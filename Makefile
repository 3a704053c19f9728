# Set-up and thin wrappers. The README's two commands (demo, test) and the hand-run checks make their
# own virtual environment on CPython 3.8 from pyenv (or the version that PYVER=3.X names); the
# version matrix, the sanitizer and debug-interpreter builds and the wheels are nox sessions
# (noxfile.py), run through a nox of its own in .venv-nox. System packages come from
# tools/bootstrap-system.sh.
SHELL := /bin/bash
PYVER ?= 3.8
PYTHON_BASE := $(shell pyenv prefix "$$(pyenv latest $(PYVER))" 2>/dev/null)/bin/python$(PYVER)
VENV ?= .venv-$(PYVER)
PY := $(VENV)/bin/python
NOX_PYTHON := $(shell pyenv prefix "$$(pyenv latest 3.11)" 2>/dev/null)/bin/python3.11
NOX := .venv-nox/bin/nox
BOOTSTRAP := tools/bootstrap-system.sh

.PHONY: demo test test-all test-python test-cpp test-asan test-valgrind fuzz fuzz-python soak \
  bench bench-suite venv install wheels sdist-check clean format libm-compare

venv: $(VENV)/.ready
$(VENV)/.ready:
	@test -x "$(PYTHON_BASE)" || { echo "CPython $(PYVER) not found through pyenv"; exit 1; }
	"$(PYTHON_BASE)" -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q scikit-build-core cmake ninja
	touch $@

install: venv
	$(PY) -m pip install -q --no-build-isolation ".[test]"

$(NOX):
	@test -x "$(NOX_PYTHON)" || { echo "CPython 3.11 (for nox) not found through pyenv"; exit 1; }
	"$(NOX_PYTHON)" -m venv .venv-nox
	.venv-nox/bin/python -m pip install -q "nox>=2024.4.15"

# The main job: draws skyloom-demo.svg (all five functions on a 10^6-point series) and says where it is.
demo: install
	$(PY) -m skyloom.demo

test: test-python test-cpp

# Spread over both cores (pytest-xdist), then the tests that measure time alone.
test-python: install
	$(PY) -m pytest -q -n 2 -m "not timing" tests
	$(PY) -m pytest -q -m timing tests

# Every nox session: the suite on each of CPython 3.8 to 3.15, the sanitizer and debug-interpreter
# builds, the C++ tests, the wheels, the sdist and the wheel on Debian 11 (`$(NOX) -l` lists them).
test-all: $(NOX)
	$(BOOTSTRAP) cpp debug
	$(NOX)

# One manylinux wheel per supported version into dist/ (auditwheel repair, then a check).
wheels: $(NOX)
	$(NOX) -s wheels

# The sdist into dist/, installed from scratch into a new venv and tested with the tests it carries.
sdist-check: $(NOX)
	$(NOX) -s sdist

# C++ tests of the numeric cores; GoogleTest comes from Debian's packages.
test-cpp: $(NOX)
	$(NOX) -s cpp

# The whole suite (or ASAN_TESTS) against a build with AddressSanitizer and UndefinedBehaviorSanitizer.
ASAN_TESTS ?= tests
test-asan: $(NOX)
	$(NOX) -s asan -- $(ASAN_TESTS)

# Fuzzing of the numeric cores with libFuzzer (clang from Debian's packages), each target for
# FUZZ_SECONDS seconds, starting from the kept corpus in fuzz/corpus/<target>; new inputs go to
# build/fuzz/corpus/<target> (merge the ones worth keeping into fuzz/corpus with -merge=1).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := data_to_screen simplify polyfit nearest m4 index
BUILD_FUZZ := build/fuzz
fuzz:
	$(BOOTSTRAP) fuzz
	CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DSKYLOOM_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD_FUZZ) -j2 >/dev/null
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(BUILD_FUZZ)/corpus/$$t; \
	  echo "=== fuzz_$$t, $(FUZZ_SECONDS) s"; \
	  $(BUILD_FUZZ)/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    -artifact_prefix=$(BUILD_FUZZ)/$$t- $(BUILD_FUZZ)/corpus/$$t fuzz/corpus/$$t \
	    2>$(BUILD_FUZZ)/$$t.log || { tail -40 $(BUILD_FUZZ)/$$t.log; exit 1; }; \
	  grep -E "^Done|number_of_executed_units" $(BUILD_FUZZ)/$$t.log; \
	done

# The Python surface: random calls of all five functions (argument mixes, keyword binding,
# hostile objects) against the plain-Python model, for FUZZ_SECONDS seconds.
fuzz-python: install
	$(PY) -m pip show -q atheris >/dev/null 2>&1 || $(PY) -m pip install -q "atheris<3"
	@mkdir -p build
	$(PY) tools/fuzz_surface.py --seconds $(FUZZ_SECONDS) 2>build/fuzz-surface.log || \
	  { tail -40 build/fuzz-surface.log; exit 1; }
	@grep -E "^Done|number_of_executed_units" build/fuzz-surface.log

# The suite under valgrind's memcheck, with Python's allocator bypassed; fails on any error whose
# stack passes through the module (the interpreter's own reports are counted, not failed on).
# The slow random tests run fewer examples there (see tests/conftest.py).
VALGRIND_TESTS ?= tests
test-valgrind: install
	$(BOOTSTRAP) valgrind
	@mkdir -p build
	PYTHONMALLOC=malloc SKYLOOM_SLOW_RUNNER=1 valgrind -q --tool=memcheck --leak-check=full \
	  --errors-for-leak-kinds=definite --num-callers=40 --xml=yes --xml-file=build/valgrind.xml \
	  $(PY) -m pytest -q -p no:cacheprovider $(VALGRIND_TESTS)
	$(PY) tools/valgrind_report.py build/valgrind.xml

# 10^6 calls of all five functions, success and failure paths mixed: reference counts, allocated
# blocks and resident memory must stay flat.
SOAK_CALLS ?= 1000000
soak: install
	$(PY) tools/soak.py --calls $(SOAK_CALLS)

# numpy and tsdownsample (the per-column extremes' peer) are for benchmarking only.
bench: install
	$(PY) -m pip install -q --no-build-isolation ./bench/floor
	$(PY) -m pip install -q numpy tsdownsample
	$(PY) bench/run.py

# The benchmark suite: every function against its C floor, numpy and plain Python, a few minutes.
# numpy and matplotlib go into the venv for benchmarking only (never package or test deps).
bench-suite: install
	$(PY) -m pip install -q --no-build-isolation ./bench/floor
	$(PY) -m pip install -q numpy matplotlib
	$(PY) bench/suite.py

format:
	$(BOOTSTRAP) format
	clang-format -i src/native/*.h src/native/*.cpp src/native/*/*.h src/native/*/*.cpp tests/cpp/*.h tests/cpp/*.cpp

clean:
	rm -rf build dist .nox $(VENV) .venv-*

# The system maths library's hypot and log10 here and on Debian 11 (glibc 2.31, its root made by
# tools/roots.sh): results that differ, by ulps, and their distance from the exact values.
libm-compare:
	$(BOOTSTRAP) root-bullseye
	python3 tools/libm_compare.py
