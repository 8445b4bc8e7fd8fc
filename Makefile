# Quick start: `make demo` and `make test`. Everything builds with CMake underneath.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SANBUILD ?= build-sanitize
BENCHBUILD ?= build-bench

.PHONY: all build demo test test-sanitize bench fuzz clean

all: build

build:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize:
	cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=Debug -DORMELIX_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

demo: build
	sh demo/run-demo.sh $(BUILD)/ormelix

bench:
	cmake -S . -B $(BENCHBUILD) -DCMAKE_BUILD_TYPE=Release -DORMELIX_BENCH=ON -DORMELIX_TESTS=OFF
	cmake --build $(BENCHBUILD) -j $(JOBS)
	$(BENCHBUILD)/ormelix_bench
	sh bench/run-bench.sh $(BENCHBUILD)/ormelix

clean:
	rm -rf $(BUILD) $(SANBUILD) $(BENCHBUILD)
