# The two commands of the quick start, and the jobs around them. Each target
# installs what it needs, configures and builds on its own.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: all deps build test dlls test-win32 asan memcheck fuzz bench demo dist dist-check clean

all: build

deps:
	@sh cmake/install-deps.sh

build: deps
	cmake --preset $(PRESET) >/dev/null
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)
	@$(MAKE) --no-print-directory test-win32

# The plug-ins as 32-bit Windows DLLs (MinGW-w64), in build/win32/bin.
dlls: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS) --target plugins

# The DLLs' tables checked and the export-level suites run under Wine. On a
# machine that cannot execute 32-bit programs the Wine suites are skipped, and
# a line says so.
test-win32: deps
	cmake --preset win32 >/dev/null
	cmake --build --preset win32 -j $(JOBS)
	ctest --preset win32 -j $(JOBS)
	@sh cmake/report-wine-skips.sh build/win32

# The unit suite and the corpus replays under AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# Every test program once more under valgrind's memcheck.
memcheck: build
	ctest --preset memcheck -j $(JOBS)

# Every fuzz harness for FUZZ_SECONDS (default 60) each, from the seed corpora
# the project's writers make; prints executions and findings per harness.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	build/fuzz/bin/make_seeds build/fuzz/fuzz-seeds >/dev/null
	sh fuzz/run-fuzzers.sh build/fuzz build/fuzz/fuzz-seeds $(FUZZ_SECONDS)

# Speed and memory figures against their yardsticks and targets, natively and
# for the 32-bit DLL under Wine, printed as one table (optimised builds in
# build/bench and build/bench-win32).
BENCH_CONFIG = -G Ninja -DCMAKE_BUILD_TYPE=Release -DVYN_BUILD_BENCH=ON -DVYN_BUILD_TESTS=OFF
bench: deps
	cmake -S . -B build/bench $(BENCH_CONFIG) >/dev/null
	cmake --build build/bench -j $(JOBS) --target vyn_bench
	cmake -S . -B build/bench-win32 $(BENCH_CONFIG) \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/toolchain-mingw-i686.cmake >/dev/null
	cmake --build build/bench-win32 -j $(JOBS) --target vyn_bench_win32
	sh bench/run.sh build/bench build/bench-win32

# The main job of vyn on sample data made by the project; results in demo-out/.
demo: build
	sh host/cli/demo.sh build/$(PRESET)/bin demo-out

# A release: the Windows zip, the Linux tarball and the .deb in dist/, built
# from clean Release trees (build/dist-linux, build/dist-win32), stripped, the
# same bytes from the same commit.
dist: deps
	JOBS=$(JOBS) sh packaging/make-dist.sh build/dist-linux build/dist-win32 dist

# Two releases from the same commit, compared byte for byte.
dist-check: deps
	JOBS=$(JOBS) sh packaging/dist-check.sh

clean:
	rm -rf build dist
