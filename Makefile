# Two commands matter: `make run` and `make test`. The rest serve development.
#
#   make run           Release build of the tools in build/bin/, then the demo;
#                      needs only g++, cmake and make
#   make test          installs what the tests need (tools/prerequisites.sh),
#                      then the Release build and its tests, the same tests under
#                      AddressSanitizer and UndefinedBehaviorSanitizer, a short
#                      run of each fuzz target, and the reproducibility check,
#                      ending with a count per stage
#   make fuzz          each fuzz target for FUZZ_SECONDS (default 300)
#   make coverage      line and branch coverage of the engine (needs gcovr)
#   make playground    the engine in WebAssembly (build/playground/prendax.wasm)
#   make bench         every Google Benchmark suite, Release build (BENCH_ARGS passed on)
#   make lint          clang-tidy over the engine, the front ends, fuzz/ and bench/
#   make format        apply .clang-format to the tree
#   make format-check  list the files whose layout differs from .clang-format
BUILD ?= build
PREFIX ?= /usr/local
ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
REPRO_BUILD ?= build-repro
COVERAGE_BUILD ?= build-coverage
BENCH_BUILD ?= build-bench
LINT_BUILD ?= build-lint
CLANG_CXX ?= clang++
CLANG_FORMAT ?= clang-format
CLANG_TIDY ?= clang-tidy
RUN_CLANG_TIDY ?= run-clang-tidy
FUZZ_SECONDS ?= 300
# The fuzz stage of `make test` only keeps the targets alive; `make fuzz` searches.
FUZZ_SMOKE_SECONDS ?= 30
BENCH_ARGS ?=

# The folders of C++ sources: the engine, the driver, the other front ends, the
# tests, benchmarks and fuzz targets.
SOURCE_DIRS = $(wildcard compiler vm game json frontend cli arena replay playground lsp tests bench fuzz)
# Every C++ file of the project, for the layout check.
FORMAT_FILES = $(shell find $(SOURCE_DIRS) -name '*.cpp' -o -name '*.h' | sort)
# The files clang-tidy reads: all but the tests, whose GoogleTest macros set off
# checks that are about the macros, not about the tests.
LINT_FILES = '^$(CURDIR)/(compiler|vm|game|json|frontend|cli|arena|replay|lsp|fuzz|bench)/[^/]*\.cpp$$'

.PHONY: all configure build run test prerequisites test-release install clean playground test-sanitize fuzz-build fuzz-smoke \
        fuzz repro coverage bench lint format format-check

all: build

# The tools alone: no test target is configured, so nothing beyond the compiler is needed.
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DPRENDAX_TESTS=OFF \
	    $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/bin/prendax_cli $(ARGS)

prerequisites:
	tools/prerequisites.sh test

test: prerequisites
	tools/run-tests.sh $(BUILD)/test-logs test-release:Release test-sanitize:Sanitizers fuzz-smoke:Fuzz \
	    repro:Reproducibility

# The Release build with its tests, in the same folder as `make run`'s build.
test-release:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX) -DPRENDAX_TESTS=ON \
	    $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

playground: configure
	cmake --build $(BUILD) -j $(JOBS) --target playground

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-*

# The whole suite, unit and golden tests, built with the sanitizers: any
# out-of-bounds access, leak or undefined behaviour stops the test that hit it.
test-sanitize:
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPRENDAX_SANITIZE=ON -DPRENDAX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
	    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j $(JOBS)

fuzz-build:
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=$(CLANG_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DPRENDAX_FUZZ=ON -DPRENDAX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all

fuzz-smoke: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SMOKE_SECONDS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

# g++ -O0, g++ -O2, clang++ -O2 and the Release build must print the same bytes.
repro:
	@[ -f $(BUILD)/CMakeCache.txt ] || $(MAKE) --no-print-directory configure
	cmake --build $(BUILD) -j $(JOBS) --target prendax_cli
	CMAKE_FLAGS="$(CMAKE_FLAGS)" JOBS=$(JOBS) tests/repro/run.sh $(REPRO_BUILD) $(BUILD)/bin/prendax_cli

# The tests run one at a time: counters merged from parallel processes came out
# corrupted (negative branch counts) on this machine.
coverage:
	@command -v gcovr >/dev/null || { echo "make coverage needs gcovr (Debian package gcovr)"; exit 2; }
	cmake -S . -B $(COVERAGE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DPRENDAX_COVERAGE=ON -DPRENDAX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	cd $(COVERAGE_BUILD) && ctest >ctest.log || { tail -30 ctest.log; exit 1; }
	mkdir -p $(COVERAGE_BUILD)/report
	gcovr -r . --object-directory $(COVERAGE_BUILD) -j $(JOBS) \
	    --filter 'compiler/' --filter 'vm/' --filter 'game/' --filter 'json/' \
	    --exclude-unreachable-branches --exclude-throw-branches \
	    --txt $(COVERAGE_BUILD)/report/lines.txt --html-details $(COVERAGE_BUILD)/report/index.html \
	    --print-summary
	gcovr -r . --object-directory $(COVERAGE_BUILD) -j $(JOBS) \
	    --filter 'compiler/' --filter 'vm/' --filter 'game/' --filter 'json/' \
	    --exclude-unreachable-branches --exclude-throw-branches --branches \
	    --txt $(COVERAGE_BUILD)/report/branches.txt
	@echo "per file: $(COVERAGE_BUILD)/report/lines.txt and branches.txt; pages: $(COVERAGE_BUILD)/report/index.html"

bench:
	tools/prerequisites.sh bench
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DPRENDAX_BENCH=ON -DPRENDAX_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS)
	@for suite in $(BENCH_BUILD)/bench/prendax_bench_*; do \
	    echo "== $$suite"; $$suite $(BENCH_ARGS) || exit 1; \
	done

lint:
	cmake -S . -B $(LINT_BUILD) -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DPRENDAX_BENCH=ON -DPRENDAX_TESTS=OFF \
	    -DCMAKE_CXX_COMPILER=$(CLANG_CXX) $(CMAKE_FLAGS) >/dev/null
	$(RUN_CLANG_TIDY) -p $(LINT_BUILD) -j $(JOBS) -quiet -clang-tidy-binary $(CLANG_TIDY) $(LINT_FILES)

format:
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

format-check:
	$(CLANG_FORMAT) --dry-run -Werror $(FORMAT_FILES)
