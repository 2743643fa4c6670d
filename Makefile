# The two commands: `make demo` builds and runs tarvel1 on examples/,
# `make test` builds and runs every test. Both do their own set-up.
BUILD       ?= build
DEBUG_BUILD ?= build-debug
JOBS        ?= 2

.PHONY: demo test deps configure build bench clean

# Installs the toolchain and test libraries when they are missing (Debian).
deps:
	@missing=""; \
	command -v cmake >/dev/null 2>&1 || missing="$$missing cmake"; \
	command -v g++ >/dev/null 2>&1 || missing="$$missing g++"; \
	[ -f /usr/include/gtest/gtest.h ] || missing="$$missing libgtest-dev"; \
	[ -f /usr/include/benchmark/benchmark.h ] || missing="$$missing libbenchmark-dev"; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $$missing; \
	fi

configure: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release >/dev/null

build: configure
	cmake --build $(BUILD) -j$(JOBS)

# A Debug build of the program alone, whose output must match the Release build byte for byte.
$(DEBUG_BUILD)/tarvel1: deps FORCE
	cmake -S . -B $(DEBUG_BUILD) -DCMAKE_BUILD_TYPE=Debug -DTARVEL_TESTS=OFF >/dev/null
	cmake --build $(DEBUG_BUILD) -j$(JOBS) --target tarvel1

test: build $(DEBUG_BUILD)/tarvel1
	TARVEL1_DEBUG_EXE=$(CURDIR)/$(DEBUG_BUILD)/tarvel1 ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

demo: build
	@rm -rf demo && mkdir demo && cp examples/control.dat examples/points.dat demo/
	@echo "=== tarvel1 in $(CURDIR)/demo: console output ==="
	@cd demo && { ../$(BUILD)/tarvel1; echo "(exit status $$?)"; } | tr -d '\r'
	@for f in results.dat courbe.dat; do echo; echo "=== demo/$$f ==="; tr -d '\r' < demo/$$f; done

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DTARVEL_TESTS=OFF -DTARVEL_BENCH=ON >/dev/null
	cmake --build build-bench -j$(JOBS)
	@for b in build-bench/bench_*; do $$b; done

clean:
	rm -rf $(BUILD) $(DEBUG_BUILD) build-bench demo

FORCE:
