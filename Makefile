# Set-up and checks. Every target makes its own virtual environment on CPython 3.8 (from pyenv),
# or on the version that PYVER=3.X names, so each works on a fresh machine.
SHELL := /bin/bash
PYVER ?= 3.8
# The supported versions, for test-all and wheels (e.g. PYVERS="3.8 3.13" for the two ends).
PYVERS ?= 3.8 3.9 3.10 3.11 3.12 3.13
PYTHON_BASE := $(shell pyenv prefix "$$(pyenv latest $(PYVER))" 2>/dev/null)/bin/python$(PYVER)
VENV ?= .venv-$(PYVER)
PY := $(VENV)/bin/python
BUILD_CPP := build/cpp-tests

.PHONY: demo test test-all test-python test-cpp test-asan test-valgrind fuzz fuzz-python soak \
  bench bench-suite venv install wheels sdist-check clean format

venv: $(VENV)/.ready
$(VENV)/.ready:
	@test -x "$(PYTHON_BASE)" || { echo "CPython $(PYVER) not found through pyenv"; exit 1; }
	"$(PYTHON_BASE)" -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.9" cmake ninja pytest hypothesis
	@# mypy checks the type stubs; where it cannot be had, that test skips itself.
	$(PY) -m pip install -q mypy || { touch $(VENV)/.no-mypy; \
	  echo "mypy cannot be installed for CPython $(PYVER): the stub tests will be skipped"; }
	touch $@

install: venv
	$(PY) -m pip install -q --no-build-isolation "$$([ -f $(VENV)/.no-mypy ] && echo . || echo '.[test]')"

# The main job: draws skyloom-demo.svg (all five functions on a 10^6-point series) and says where it is.
demo: install
	$(PY) -m skyloom.demo

test: test-python test-cpp

test-python: install
	$(PY) -m pytest -q tests

# The Python suite on every version of PYVERS, each in its own .venv-3.X, then the C++ tests once.
# A version that pyenv does not provide is reported and left out. Ends with one line of totals.
test-all:
	@mkdir -p build; fail=0; : > build/test-all.txt; \
	for v in $(PYVERS); do \
	  full=$$(pyenv latest $$v 2>/dev/null) || { echo "CPython $$v: not provided by pyenv, skipped" \
	    | tee -a build/test-all.txt; continue; }; \
	  echo "=== CPython $$full"; \
	  $(MAKE) --no-print-directory PYVER=$$v test-python 2>&1 | tee build/test-$$v.log; \
	  [ "$${PIPESTATUS[0]}" = 0 ] || fail=1; \
	  line=$$(grep -E '^[0-9]+ (passed|failed|skipped|errors?)' build/test-$$v.log | tail -1); \
	  echo "CPython $$full: $${line:-set-up or build failed}" >> build/test-all.txt; \
	done; \
	$(MAKE) --no-print-directory test-cpp || fail=1; \
	echo "=== test-all"; cat build/test-all.txt; \
	count() { grep -oE "[0-9]+ $$1" build/test-all.txt | awk '{s += $$1} END {print s + 0}'; }; \
	echo "test-all: $$(count passed) passed, $$(( $$(count failed) + $$(count error) )) failed, $$(count skipped) skipped"; \
	exit $$fail

# One wheel per version of PYVERS into dist/, each made by `pip wheel .` in that version's venv.
wheels:
	@set -e; mkdir -p dist; for v in $(PYVERS); do \
	  pyenv latest $$v >/dev/null 2>&1 || { echo "CPython $$v: not provided by pyenv, skipped"; continue; }; \
	  $(MAKE) -s --no-print-directory PYVER=$$v venv; \
	  .venv-$$v/bin/python -m pip wheel -q --no-deps --no-build-isolation -w dist .; \
	done; \
	for w in dist/*.whl; do \
	  python3 -c 'import sys, zipfile; names = zipfile.ZipFile(sys.argv[1]).namelist(); \
	    need = ["skyloom/_cy_utils.pyi", "skyloom/py.typed", "skyloom/__init__.py"]; \
	    missing = [n for n in need if n not in names] + ([] if any(n.startswith("skyloom/_cy_utils.") \
	      and n.endswith(".so") for n in names) else ["skyloom/_cy_utils*.so"]); \
	    sys.exit("%s lacks %s" % (sys.argv[1], missing) if missing else None)' "$$w"; \
	  echo "$$w"; \
	done

# The sdist into dist/, built from scratch into a new venv (isolated build, no cached wheel)
# and tested there with the tests that the sdist itself carries.
SDIST_CHECK := build/sdist-check-$(PYVER)
sdist-check: venv
	rm -rf $(SDIST_CHECK) && mkdir -p $(SDIST_CHECK) dist
	set -e; \
	sdist=$$($(PY) -c "from scikit_build_core.build import build_sdist; print(build_sdist('dist'))" | tail -1); \
	"$(PYTHON_BASE)" -m venv $(SDIST_CHECK)/venv; \
	$(SDIST_CHECK)/venv/bin/python -m pip install -q --upgrade pip; \
	$(SDIST_CHECK)/venv/bin/python -m pip install -q --no-cache-dir "skyloom[test] @ file://$$PWD/dist/$$sdist"; \
	tar -xzf "dist/$$sdist" -C $(SDIST_CHECK); \
	cd "$(SDIST_CHECK)/$${sdist%.tar.gz}" && ../venv/bin/python -m pytest -q -p no:cacheprovider tests

# C++ tests of the numeric cores; GoogleTest comes from Debian's packages.
test-cpp:
	@if [ ! -f /usr/include/gtest/gtest.h ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev >/dev/null; \
	  else echo "GoogleTest is missing: apt-get install libgtest-dev"; exit 1; fi; \
	fi
	cmake -S . -B $(BUILD_CPP) -DSKYLOOM_CPP_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_CPP) -j2 >/dev/null
	cd $(BUILD_CPP) && ctest --output-on-failure

# The whole suite against a build with AddressSanitizer and UndefinedBehaviorSanitizer. Python's
# own allocator is bypassed so that ASan sees every object; leak reports are left to valgrind and
# the leak tests, since the interpreter keeps much alive at exit by design.
ASAN_VENV := .venv-$(PYVER)-asan
ASAN_TESTS ?= tests
test-asan:
	$(MAKE) VENV=$(ASAN_VENV) venv
	SKYLOOM_SANITIZE=ON $(ASAN_VENV)/bin/python -m pip install -q --no-build-isolation \
	  --config-settings=build-dir=build/asan-$(PYVER) --config-settings=install.strip=false .[test]
	PYTHONMALLOC=malloc LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(ASAN_VENV)/bin/python -m pytest -q -p no:cacheprovider --capture=sys $(ASAN_TESTS)

# Fuzzing of the numeric cores with libFuzzer (clang from Debian's packages), each target for
# FUZZ_SECONDS seconds, starting from the kept corpus in fuzz/corpus/<target>; new inputs go to
# build/fuzz/corpus/<target> (merge the ones worth keeping into fuzz/corpus with -merge=1).
FUZZ_SECONDS ?= 60
FUZZ_TARGETS := data_to_screen simplify polyfit
BUILD_FUZZ := build/fuzz
fuzz:
	@if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-14-dev >/dev/null; \
	  else echo "clang and libFuzzer are missing: apt-get install clang libclang-rt-14-dev"; exit 1; fi; \
	fi
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
	$(PY) -c "import atheris" 2>/dev/null || $(PY) -m pip install -q "atheris<3"
	$(PY) tests/fuzz_surface.py --seconds $(FUZZ_SECONDS) 2>build/fuzz-surface.log || \
	  { tail -40 build/fuzz-surface.log; exit 1; }
	@grep -E "^Done|number_of_executed_units" build/fuzz-surface.log

# The suite under valgrind's memcheck, with Python's allocator bypassed; fails on any error whose
# stack passes through the module (the interpreter's own reports are counted, not failed on).
# The slow random tests run fewer examples there (see tests/conftest.py).
VALGRIND_TESTS ?= tests
test-valgrind: install
	@command -v valgrind >/dev/null || { [ "$$(id -u)" = 0 ] && apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null; }
	@mkdir -p build
	PYTHONMALLOC=malloc SKYLOOM_SLOW_RUNNER=1 valgrind -q --tool=memcheck --leak-check=full \
	  --errors-for-leak-kinds=definite --num-callers=40 --xml=yes --xml-file=build/valgrind.xml \
	  $(PY) -m pytest -q -p no:cacheprovider $(VALGRIND_TESTS)
	$(PY) tests/valgrind_report.py build/valgrind.xml

# 10^6 calls of all five functions, success and failure paths mixed: reference counts, allocated
# blocks and resident memory must stay flat.
SOAK_CALLS ?= 1000000
soak: install
	$(PY) tests/soak.py --calls $(SOAK_CALLS)

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
	clang-format -i src/native/*/*.h src/native/*/*.cpp tests/cpp/*.cpp

clean:
	rm -rf build dist $(VENV) .venv-*
