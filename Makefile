# Set-up, build and test entry points; see README.md.
SHELL := /bin/bash
.SHELLFLAGS := -eu -o pipefail -c
.DEFAULT_GOAL := test

VENV ?= .venv
PY := $(VENV)/bin/python
PIP := $(PY) -m pip --quiet
CMAKE := $(VENV)/bin/cmake
CTEST := $(VENV)/bin/ctest
# A second environment with the oldest supported NumPy (1.x) and pandas.
VENV_NUMPY1 ?= .venv-numpy1

# CPython 3.10 is the reference interpreter: the newest 3.10 that pyenv has
# installed, else a python3.10 on PATH that runs (a pyenv shim may not).
PYTHON310 ?= $(shell ls -d "$${PYENV_ROOT:-$$HOME/.pyenv}"/versions/3.10*/bin/python3.10 2>/dev/null | \
  sort -V | tail -n 1 | grep . || (python3.10 -c '' 2>/dev/null && command -v python3.10))
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
WERROR ?= ON
CPP_BUILD := build/cpp
DIST := build/dist

.PHONY: demo test bench install wheel cpp-test py-test py-test-numpy1 system-deps format clean

demo: install
	$(PY) examples/demo.py

test: system-deps cpp-test py-test py-test-numpy1

define make_venv
	@if [ -z "$(PYTHON310)" ]; then \
	  echo "CPython 3.10 not found: install it (pyenv install 3.10) or pass PYTHON310=/path/to/python3.10" >&2; \
	  exit 1; fi
	$(PYTHON310) -m venv $(1)
	$(1)/bin/python -m pip install --quiet --upgrade pip
endef

$(PY):
	$(call make_venv,$(VENV))
	$(PIP) install scikit-build-core cmake ninja

$(VENV_NUMPY1)/bin/python:
	$(call make_venv,$(VENV_NUMPY1))
	$(VENV_NUMPY1)/bin/python -m pip install --quiet -r tests/requirements-numpy1.txt

# One cp310-abi3 wheel, built incrementally in build/, serves every
# environment below.
wheel: $(PY)
	rm -rf $(DIST)
	$(PIP) wheel --no-build-isolation --no-deps -w $(DIST) \
	  -Ccmake.define.QUILLON_WERROR=$(WERROR) .

# Installs the wheel with its runtime and test dependencies.
install: wheel
	$(PIP) install "$$(ls $(DIST)/quillon-*.whl)[test]"
	$(PIP) install --force-reinstall --no-deps $(DIST)/quillon-*.whl

system-deps:
	@if ! dpkg -s libgtest-dev >/dev/null 2>&1; then \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y libgtest-dev; fi

cpp-test: $(PY)
	$(CMAKE) -S . -B $(CPP_BUILD) -G Ninja -DQUILLON_BUILD_EXTENSION=OFF \
	  -DQUILLON_BUILD_TESTS=ON -DQUILLON_WERROR=$(WERROR)
	$(CMAKE) --build $(CPP_BUILD)
	$(CTEST) --test-dir $(CPP_BUILD) --output-on-failure

py-test: install
	$(PY) -m pytest

py-test-numpy1: install $(VENV_NUMPY1)/bin/python
	$(VENV_NUMPY1)/bin/python -m pip install --quiet --force-reinstall --no-deps $(DIST)/quillon-*.whl
	$(VENV_NUMPY1)/bin/python -m pytest

bench: install
	$(PY) benchmarks/compare_statsmodels.py $(BENCH_ARGS)

format:
	clang-format -i src/*.cpp src/*/*.cpp src/*/*.hpp tests/cpp/*.cpp

clean:
	rm -rf build $(VENV) $(VENV_NUMPY1)
