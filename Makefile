# Front door of the project. `make test` and `make demo` do all set-up on a
# fresh Debian 12 machine.

JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

# Debian's interpreter, the one the Python module is built for.
PYTHON ?= $(shell test -x /usr/bin/python3 && echo /usr/bin/python3 || echo python3)
PYTEST = ZOC_BIN=build/bin/zoc PYTHONPATH=build/lib $(PYTHON) -m pytest -q -p no:cacheprovider python/tests

SECONDS ?= 120
FUZZ_SECONDS ?= 60

.PHONY: all deps build zoc python build-asan test demo bench test-asan test-tsan soak soak-asan fuzz mutate docs clean

all: build

deps:
	@scripts/install-deps.sh

build/build.ninja: | deps
	cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps build/build.ninja
	cmake --build build -j $(JOBS)

# Only the command and the library under it, none of the tests.
zoc: deps build/build.ninja
	cmake --build build -j $(JOBS) --target zoc

test: build
	ctest --test-dir build --output-on-failure -j $(JOBS)
	@if ls build/lib/zoc.*.so > /dev/null 2>&1; then $(PYTEST); else echo "Python module not built (needs pybind11-dev, python3-numpy)"; fi

# The Python module (build/lib; PYTHONPATH=build/lib) and its tests.
python: deps build/build.ninja
	cmake --build build -j $(JOBS) --target zoc_python zoc
	$(PYTEST)

demo: build
	build/bin/zoc demo demo-out

bench: deps
	@scripts/install-deps.sh --bench
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOC_BUILD_TESTS=OFF -DZOC_BUILD_BENCH=ON
	cmake --build build-bench -j $(JOBS)
	build-bench/bin/zoc_bench --benchmark_counters_tabular=true
	bench/vs-sox build-bench/bin/zoc
	bench/lv2bench build-bench

# Every LV2 plugin under lilv's lv2bench, beside zoc_bench's figures.
.PHONY: lv2bench
lv2bench: deps
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOC_BUILD_TESTS=OFF -DZOC_BUILD_BENCH=ON
	cmake --build build-bench -j $(JOBS) --target zoc_bench zoaudio_lv2
	bench/lv2bench build-bench

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer.
build-asan: deps
	cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOC_SANITIZE=address,undefined
	cmake --build build-asan -j $(JOBS)

test-asan: build-asan
	ctest --test-dir build-asan --output-on-failure -j $(JOBS)

# The threaded tests (suites named *Threaded) under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZOC_SANITIZE=thread
	cmake --build build-tsan -j $(JOBS)
	ctest --test-dir build-tsan --output-on-failure -j $(JOBS) -R 'Threaded\.'

# Every component under random use for SECONDS seconds (make soak SECONDS=3600).
soak: build
	build/bin/zoc_soak --seconds $(SECONDS)

# The same under AddressSanitizer and UndefinedBehaviorSanitizer.
soak-asan: build-asan
	build-asan/bin/zoc_soak --seconds $(SECONDS)

# libFuzzer targets (tests/fuzz), built with clang under ASan+UBSan, each run
# for FUZZ_SECONDS over its seed corpus.
fuzz: deps
	@scripts/install-deps.sh --fuzz
	cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	  -DZOC_BUILD_TESTS=OFF -DZOC_BUILD_FUZZ=ON -DZOC_SANITIZE=address,undefined,fuzzer-no-link
	cmake --build build-fuzz -j $(JOBS)
	scripts/run-fuzzers.sh build-fuzz/bin $(FUZZ_SECONDS)

# The API reference of include/zoc/zoc.h as HTML in build-docs/html/.
docs:
	@command -v doxygen > /dev/null || { echo "make docs needs doxygen: scripts/install-deps.sh --docs"; exit 1; }
	doxygen docs/Doxyfile
	@echo "API reference: build-docs/html/index.html"

# Plants each fault in tests/mutations.txt in a private copy and checks that
# the suite catches it (slow: run before closing a component's work).
# MUTATE_ARGS='-o Dynamics' runs a subset.
mutate: deps
	scripts/mutate.sh -j $(JOBS) $(MUTATE_ARGS)

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-docs demo-out
