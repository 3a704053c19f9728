# Set-up and checks. Every target makes its own virtual environment on CPython 3.8 (from pyenv),
# so each works on a fresh machine.
SHELL := /bin/bash
PYVER ?= 3.8
PYTHON_BASE := $(shell pyenv prefix "$$(pyenv latest $(PYVER))" 2>/dev/null)/bin/python$(PYVER)
VENV ?= .venv-$(PYVER)
PY := $(VENV)/bin/python
BUILD_CPP := build/cpp-tests

.PHONY: demo test test-python test-cpp test-asan bench venv install clean format

venv: $(VENV)/.ready
$(VENV)/.ready:
	@test -x "$(PYTHON_BASE)" || { echo "CPython $(PYVER) not found through pyenv"; exit 1; }
	"$(PYTHON_BASE)" -m venv $(VENV)
	$(PY) -m pip install -q --upgrade pip
	$(PY) -m pip install -q "scikit-build-core>=0.9" pytest hypothesis
	touch $@

install: venv
	$(PY) -m pip install -q --no-build-isolation .[test]

# The main job: draws skyloom-demo.svg (all five functions on a 10^6-point series) and says where it is.
demo: install
	$(PY) -m skyloom.demo

test: test-python test-cpp

test-python: install
	$(PY) -m pytest -q tests

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
test-asan:
	$(MAKE) VENV=$(ASAN_VENV) venv
	SKYLOOM_SANITIZE=ON $(ASAN_VENV)/bin/python -m pip install -q --no-build-isolation \
	  --config-settings=build-dir=build/asan-$(PYVER) .[test]
	PYTHONMALLOC=malloc LD_PRELOAD="$$(g++ -print-file-name=libasan.so) $$(g++ -print-file-name=libubsan.so)" \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(ASAN_VENV)/bin/python -m pytest -q -p no:cacheprovider tests

bench: install
	$(PY) -m pip install -q --no-build-isolation ./bench/floor
	$(PY) bench/run.py

format:
	clang-format -i src/native/*/*.h src/native/*/*.cpp tests/cpp/*.cpp

clean:
	rm -rf build dist $(VENV) .venv-*
