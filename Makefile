# Quick start: `make demo` and `make test`. Everything builds with CMake underneath.
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
SANBUILD ?= build-sanitize
BENCHBUILD ?= build-bench
FUZZBUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
WINBUILD ?= build-windows

.PHONY: all packages build demo test qgis-plugin test-sanitize bench fuzz clean windows windows-packages test-windows demo-windows

all: build

# The Debian packages of each build, installed where missing (see cmake/need-packages.sh).
PACKAGES = g++ cmake pkg-config libgtest-dev libtiff-dev libpng-dev libproj-dev proj-data libcli11-dev nlohmann-json3-dev libgdal-dev
BENCH_PACKAGES = $(PACKAGES) libbenchmark-dev
# QGIS for the test of its provider (qgis/), run headless.
QGIS_PACKAGES = qgis python3-qgis
WINDOWS_PACKAGES = g++-mingw-w64-x86-64-posix wine64 googletest libz-mingw-w64-dev dpkg-dev tcl sqlite3

packages:
	sh cmake/need-packages.sh $(PACKAGES)

build: packages
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

# QGIS installed, the configuration is made again to take in the test of its provider.
test: build
	sh cmake/need-packages.sh $(QGIS_PACKAGES)
	cmake -S . -B $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The zip that QGIS installs (Plugins > Manage and Install Plugins > Install from ZIP).
qgis-plugin:
	mkdir -p $(BUILD)
	rm -f $(BUILD)/ormelix_provider.zip
	cd qgis && find ormelix_provider -name '*.py' -o -name metadata.txt | sort | \
		python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED); [z.write(n.strip()) for n in sys.stdin]; z.close()' \
		../$(BUILD)/ormelix_provider.zip
	@echo "$(BUILD)/ormelix_provider.zip"

test-sanitize: packages
	cmake -S . -B $(SANBUILD) -DCMAKE_BUILD_TYPE=Debug -DORMELIX_SANITIZE=ON
	cmake --build $(SANBUILD) -j $(JOBS)
	cd $(SANBUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		ctest --output-on-failure -j $(JOBS)

demo: build
	sh demo/run-demo.sh $(BUILD)/ormelix

# Windows: a cross build with MinGW-w64 (g++-mingw-w64-x86-64-posix), tested under Wine
# (wine64) in a Wine prefix of its own, $(WINBUILD)/wineprefix, whose c:\images\ is the
# real root folder.
windows-packages:
	sh cmake/need-packages.sh $(WINDOWS_PACKAGES)

windows: windows-packages
	JOBS=$(JOBS) sh cmake/cross-deps.sh $(WINBUILD)
	cmake -S . -B $(WINBUILD) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake \
		-DORMELIX_CROSS_DEPS=$(CURDIR)/$(WINBUILD)/deps/install
	cmake --build $(WINBUILD) -j $(JOBS)

test-windows: windows
	cd $(WINBUILD) && ctest --output-on-failure

# The demo under Wine must give the Linux result, line for line, with CR LF breaks.
demo-windows: build windows
	sh demo/compare-windows.sh $(BUILD)/ormelix $(WINBUILD)/ormelix.exe

# `make bench BENCH_SIZES=2000` leaves out the 5000 x 5000 grids; `make bench
# BENCH_LARGE=20000` adds a 20000 x 20000 16-bit session (11 GB of memory). Every session
# is also timed with a build without large pages for the grids (NOHINTBUILD). BENCH_HUGE
# is the side of a GeoTIFF pair beyond the machine's memory, run once (default 60000: 1.1 GB
# of disk, kept for the next runs, and a few minutes); `make bench BENCH_HUGE=0` leaves it out.
BENCH_SIZES ?= 2000 5000
BENCH_LARGE ?=
BENCH_HUGE ?= 60000
BENCH_MIN_TIME ?= 0.2
NOHINTBUILD ?= build-bench-nohint
NOREPORTBUILD ?= build-bench-noreport
bench:
	sh cmake/need-packages.sh $(BENCH_PACKAGES)
	cmake -S . -B $(BENCHBUILD) -DCMAKE_BUILD_TYPE=Release -DORMELIX_BENCH=ON -DORMELIX_TESTS=OFF
	cmake --build $(BENCHBUILD) -j $(JOBS)
	cmake -S . -B $(NOHINTBUILD) -DCMAKE_BUILD_TYPE=Release -DORMELIX_MEMORY_HINT=OFF -DORMELIX_TESTS=OFF
	cmake --build $(NOHINTBUILD) -j $(JOBS) --target ormelix
	cmake -S . -B $(NOREPORTBUILD) -DCMAKE_BUILD_TYPE=Release -DORMELIX_REPORT=OFF -DORMELIX_TESTS=OFF
	cmake --build $(NOREPORTBUILD) -j $(JOBS) --target ormelix
	$(BENCHBUILD)/ormelix_bench --benchmark_min_time=$(BENCH_MIN_TIME)
	BENCH_SIZES="$(BENCH_SIZES)" BENCH_LARGE="$(BENCH_LARGE)" BENCH_HUGE="$(BENCH_HUGE)" BENCH_NOREPORT=$(NOREPORTBUILD)/ormelix \
		sh bench/run-bench.sh $(BENCHBUILD)/ormelix $(NOHINTBUILD)/ormelix

# Each harness under libFuzzer for FUZZ_SECONDS (clang and its libFuzzer runtime:
# Debian clang-14 and libclang-rt-14-dev). Fails on any finding.
fuzz:
	JOBS=$(JOBS) sh fuzz/run-fuzz.sh $(FUZZBUILD) $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(SANBUILD) $(BENCHBUILD) $(NOHINTBUILD) $(NOREPORTBUILD) $(FUZZBUILD) $(WINBUILD)
