# The two commands: `make demo` builds and runs tarvel1 on examples/,
# `make test` builds and runs every test. Both do their own set-up.
BUILD       ?= build
DEBUG_BUILD ?= build-debug
JOBS        ?= 2

FUZZ_SECONDS ?= 1800

.PHONY: demo test check-sanitize fuzz fuzz-build configure build programs bench clean

# What each command needs, installed by tools/deps.sh when missing (Debian):
# the programs need the compiler, CMake, nlohmann/json and OpenSSL's libcrypto
# (the report's SHA-256 digests); the tests add GoogleTest, the Python
# module's pybind11, Python headers and numpy (for Debian's /usr/bin/python3),
# an SVG renderer for the picture's test, and Chromium and poppler's PDF tools
# for the report's test in a browser; the benchmarks Google Benchmark.
PROGRAM_DEPS = g++=g++ cmake=cmake nlohmann-json3-dev=/usr/include/nlohmann/json.hpp libssl-dev=/usr/include/openssl/evp.h
PYTHON_H     = $(shell /usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_path("include"))' 2>/dev/null)/Python.h
TEST_DEPS    = $(PROGRAM_DEPS) libgtest-dev=/usr/include/gtest/gtest.h pybind11-dev=/usr/include/pybind11/pybind11.h \
               python3-dev=$(PYTHON_H) python3-numpy=/usr/lib/python3/dist-packages/numpy/__init__.py \
               librsvg2-bin=rsvg-convert chromium=chromium poppler-utils=pdftotext
BENCH_DEPS   = $(PROGRAM_DEPS) libbenchmark-dev=/usr/include/benchmark/benchmark.h
deps         = @sh tools/deps.sh $(1)
# Tests are configured in when GoogleTest is there.
TESTS_ON     = $$([ -f /usr/include/gtest/gtest.h ] && echo ON || echo OFF)

configure:
	$(call deps,$(TEST_DEPS))
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=ON >/dev/null

build: configure
	cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory

programs:
	$(call deps,$(PROGRAM_DEPS))
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=$(TESTS_ON) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target tarvel1 tarvel1-plot -- --no-print-directory

# A Debug build of the program alone, whose output must match the Release build byte for byte.
$(DEBUG_BUILD)/tarvel1: FORCE
	$(call deps,$(PROGRAM_DEPS))
	cmake -S . -B $(DEBUG_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARVEL_TESTS=OFF >/dev/null
	cmake --build $(DEBUG_BUILD) -j$(JOBS) --target tarvel1

test: build $(DEBUG_BUILD)/tarvel1
	TARVEL1_DEBUG_EXE=$(CURDIR)/$(DEBUG_BUILD)/tarvel1 ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j$(JOBS)

# Every test again, with the program and the tests built under AddressSanitizer
# and UndefinedBehaviorSanitizer; then the tests of calibrations on several
# threads under ThreadSanitizer.
check-sanitize:
	$(call deps,$(TEST_DEPS))
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTARVEL_SANITIZE=ON >/dev/null
	cmake --build build-sanitize -j$(JOBS)
	ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j$(JOBS)
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_SANITIZE_THREAD=ON >/dev/null
	cmake --build build-tsan -j$(JOBS) --target tarvel_tests
	TSAN_OPTIONS=halt_on_error=1 build-tsan/tarvel_tests --gtest_filter='Library.*:MonteCarlo.*:WholeRuns.ThreadCounts'


# The two fuzz targets, built but not run: build-fuzz/fuzz_listin (clang++
# with libFuzzer) and build-afl/fuzz_run (afl-clang-fast++).
fuzz-build:
	$(call deps,$(TEST_DEPS) afl++=afl-fuzz clang=clang++)
	CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DTARVEL_TESTS=OFF -DTARVEL_SANITIZE=ON \
	  -DTARVEL_FUZZ_LIBFUZZER=ON >/dev/null
	cmake --build build-fuzz -j$(JOBS) --target fuzz_listin
	CXX=afl-clang-fast++ AFL_QUIET=1 cmake -S . -B build-afl -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF \
	  -DTARVEL_SANITIZE=ON -DTARVEL_FUZZ_AFL=ON >/dev/null
	AFL_QUIET=1 cmake --build build-afl -j$(JOBS) --target fuzz_run

# A fuzzing session of FUZZ_SECONDS (default 30 minutes): libFuzzer on the
# list-directed reader and AFL++ on whole runs, side by side. Findings go to
# build-fuzz/ and build-afl/findings/; the seeds are tests/fuzz-corpus/.
fuzz: fuzz-build
	mkdir -p build-fuzz/corpus && cp tests/fuzz-corpus/listin/* build-fuzz/corpus/
	@echo "Fuzzing for $(FUZZ_SECONDS) s; logs: build-fuzz/listin.log, build-afl/findings/default/fuzzer_stats"
	build-fuzz/fuzz_listin -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=build-fuzz/ \
	  build-fuzz/corpus > build-fuzz/listin.log 2>&1 & \
	AFL_SKIP_CPUFREQ=1 AFL_NO_UI=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 \
	  afl-fuzz -V $(FUZZ_SECONDS) -t 120000 -m none -i tests/fuzz-corpus/run -o build-afl/findings \
	  -- build-afl/fuzz_run @@ > build-afl/afl.log 2>&1; \
	wait; tail -n 15 build-fuzz/listin.log; grep -E 'execs_done|saved_crashes|saved_hangs' build-afl/findings/default/fuzzer_stats

demo: programs
	@rm -rf demo && mkdir demo && cp examples/control.dat examples/points.dat demo/
	@echo "=== tarvel1 in $(CURDIR)/demo: console output ==="
	@cd demo && { ../$(BUILD)/tarvel1; echo "(exit status $$?)"; } | tr -d '\r'
	@for f in results.dat courbe.dat; do echo; echo "=== demo/$$f ==="; tr -d '\r' < demo/$$f; done
	@echo; cd demo && ../$(BUILD)/tarvel1-plot && echo "The picture: $(CURDIR)/demo/courbe.svg (open it in a web browser)"

# The programs built, then installed under PREFIX: tarvel1 and tarvel1-plot
# into $(PREFIX)/bin, libtarvel.a into $(PREFIX)/lib, tarvel/tarvel.h into
# $(PREFIX)/include (the rules are CMakeLists.txt's install() calls).
PREFIX ?= /usr/local
.PHONY: install
install: programs
	cmake --install $(BUILD) --prefix $(PREFIX)

# The benchmarks, with GSL for the reference loop of bench_gsl.
bench:
	$(call deps,$(BENCH_DEPS) libgsl-dev=/usr/include/gsl/gsl_multifit.h)
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DTARVEL_BENCH=ON >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench_*; do $$b; done

clean:
	rm -rf $(BUILD) $(DEBUG_BUILD) build-bench build-sanitize build-tsan build-fuzz build-afl demo

FORCE:
