# The two commands: `make demo` builds and runs tarvel1 on examples/,
# `make test` builds and runs every test. Both do their own set-up.
BUILD       ?= build
DEBUG_BUILD ?= build-debug
JOBS        ?= 2

FUZZ_SECONDS ?= 1800

.PHONY: demo test check-sanitize fuzz fuzz-build configure build programs bench clean deb wheel

# What each command needs, installed by tools/deps.sh when missing (Debian):
# the programs need the compiler, CMake, nlohmann/json and OpenSSL's libcrypto
# (the report's SHA-256 digests); the tests add GoogleTest, the Python
# module's pybind11, Python headers and numpy (for Debian's /usr/bin/python3),
# an SVG renderer for the picture's test, Chromium and poppler's PDF tools for
# the report's test in a browser, help2man for the manual pages and pkg-config
# for the test of an installed tree; the benchmarks Google Benchmark. make
# install adds the Python package and the manual pages to the programs, make
# deb dpkg-dev, make wheel setuptools, wheel and build.
PROGRAM_DEPS = g++=g++ cmake=cmake nlohmann-json3-dev=/usr/include/nlohmann/json.hpp libssl-dev=/usr/include/openssl/evp.h
PYTHON_H     = $(shell /usr/bin/python3 -c 'import sysconfig; print(sysconfig.get_path("include"))' 2>/dev/null)/Python.h
DIST_PY      = /usr/lib/python3/dist-packages
PYTHON_DEPS  = pybind11-dev=/usr/include/pybind11/pybind11.h python3-dev=$(PYTHON_H) \
               python3-numpy=$(DIST_PY)/numpy/__init__.py
INSTALL_DEPS = $(PROGRAM_DEPS) $(PYTHON_DEPS) help2man=help2man
TEST_DEPS    = $(INSTALL_DEPS) libgtest-dev=/usr/include/gtest/gtest.h librsvg2-bin=rsvg-convert pkgconf=pkg-config \
               chromium=chromium poppler-utils=pdftotext ccache=ccache
DEB_DEPS     = $(INSTALL_DEPS) dpkg-dev=dpkg-shlibdeps file=file ccache=ccache
WHEEL_DEPS   = $(PROGRAM_DEPS) $(PYTHON_DEPS) python3-setuptools=$(DIST_PY)/setuptools/__init__.py \
               python3-wheel=$(DIST_PY)/wheel/__init__.py python3-build=$(DIST_PY)/build/__init__.py
BENCH_DEPS   = $(PROGRAM_DEPS) libbenchmark-dev=/usr/include/benchmark/benchmark.h
deps         = @sh tools/deps.sh $(1)
# Tests are configured in when GoogleTest is there.
TESTS_ON     = $$([ -f /usr/include/gtest/gtest.h ] && echo ON || echo OFF)
# Compiles go through ccache where it is there (make test installs it): the
# builds of one run share what they compile alike, and a second run is quick.
CCACHE       = $$(command -v ccache >/dev/null && echo -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR := $(CURDIR)

configure:
	$(call deps,$(TEST_DEPS))
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=ON $(CCACHE) >/dev/null

build: configure
	cmake --build $(BUILD) -j$(JOBS) -- --no-print-directory

programs:
	$(call deps,$(PROGRAM_DEPS))
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=$(TESTS_ON) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target tarvel1 tarvel1-plot -- --no-print-directory

# A Debug build of the program alone, whose output must match the Release build byte for byte.
$(DEBUG_BUILD)/tarvel1: FORCE
	$(call deps,$(PROGRAM_DEPS))
	cmake -S . -B $(DEBUG_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARVEL_TESTS=OFF $(CCACHE) >/dev/null
	cmake --build $(DEBUG_BUILD) -j$(JOBS) --target tarvel1

test: build $(DEBUG_BUILD)/tarvel1
	TARVEL1_DEBUG_EXE=$(CURDIR)/$(DEBUG_BUILD)/tarvel1 ctest --test-dir $(BUILD) --output-on-failure --no-tests=error -j$(JOBS)

# Every test again, with the program and the tests built under AddressSanitizer
# and UndefinedBehaviorSanitizer; then the tests of calibrations on several
# threads under ThreadSanitizer.
check-sanitize:
	$(call deps,$(TEST_DEPS))
	cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DTARVEL_SANITIZE=ON $(CCACHE) >/dev/null
	cmake --build build-sanitize -j$(JOBS)
	ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j$(JOBS)
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARVEL_SANITIZE_THREAD=ON $(CCACHE) >/dev/null
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

# The programs, their manual pages and the Python package built, then
# installed under PREFIX (the rules are cmake/Install.cmake's): tarvel1 and
# tarvel1-plot into $(PREFIX)/bin, libtarvel.a into $(PREFIX)/lib with its CMake
# package files and tarvel.pc, tarvel/tarvel.h into $(PREFIX)/include, and the
# package tarvel where Debian's python3 looks under PREFIX (PYTHON_DIR).
PREFIX ?= /usr/local
PYTHON_DIR = $(shell /usr/bin/python3 tools/python-dir.py $(PREFIX))
.PHONY: install
install:
	$(call deps,$(INSTALL_DEPS))
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=$(TESTS_ON) -DTARVEL_PYTHON_DIR=$(PYTHON_DIR) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target tarvel1 tarvel1-plot tarvel_python tarvel_man -- --no-print-directory
	cmake --install $(BUILD) --prefix $(PREFIX)
	@/usr/bin/python3 tools/python-dir.py --where $(PREFIX) $(PYTHON_DIR)

# The Debian package $(BUILD)/tarvel_<version>_<arch>.deb, from a Release
# build of its own under /usr whose --help names the installed README.
DEB_BUILD ?= build-deb
deb:
	$(call deps,$(DEB_DEPS))
	cmake -S . -B $(DEB_BUILD) -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr $(CCACHE) \
	  -DTARVEL_README=/usr/share/doc/tarvel/README.md -DTARVEL_PYTHON_DIR=lib/python3/dist-packages >/dev/null
	cmake --build $(DEB_BUILD) -j$(JOBS) -- --no-print-directory
	rm -f $(DEB_BUILD)/tarvel_*.deb $(BUILD)/tarvel_*.deb
	cd $(DEB_BUILD) && cpack -G DEB >/dev/null
	mkdir -p $(BUILD) && mv $(DEB_BUILD)/tarvel_*.deb $(BUILD)/
	@ls -l $(BUILD)/tarvel_*.deb

# The wheel $(BUILD)/tarvel-<version>-*.whl for Debian's python3 (setup.py).
wheel:
	$(call deps,$(WHEEL_DEPS))
	/usr/bin/python3 -m build --no-isolation --wheel --outdir $(BUILD) .

# The benchmarks, with GSL for the reference loop of bench_gsl.
bench:
	$(call deps,$(BENCH_DEPS) libgsl-dev=/usr/include/gsl/gsl_multifit.h)
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DTARVEL_BENCH=ON >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench_*; do $$b; done

clean:
	rm -rf $(BUILD) $(DEBUG_BUILD) $(DEB_BUILD) build-python build-bench build-sanitize build-tsan build-fuzz build-afl demo

FORCE:
