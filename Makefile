# Quillomir: the commands. `make test` and `make run` install what is missing.
.PHONY: all deps build build-native build-win32 build-win64 test test-native test-win32 test-win64 \
        test-e2e run clean test-sanitize test-fuzz-corpus fuzz \
        test-quick test-i386

JOBS ?= 2
export WINEDEBUG := -all
# One private Wine prefix for each test run; tools/wine-run makes it on first use.
export WINEPREFIX := $(CURDIR)/build/wine/prefix

all: build

deps:
	@tools/install-deps

build: deps build-native build-win32 build-win64

build-native:
	cmake --preset native
	cmake --build --preset native -j$(JOBS)

build-win32:
	cmake --preset win32
	cmake --build --preset win32 -j$(JOBS)

build-win64:
	cmake --preset win64
	cmake --build --preset win64 -j$(JOBS)

test: build
	@rm -rf build/wine
	@status=0; \
	$(MAKE) --no-print-directory test-native || status=1; \
	$(MAKE) --no-print-directory test-win32 || status=1; \
	$(MAKE) --no-print-directory test-win64 || status=1; \
	$(MAKE) --no-print-directory test-e2e || status=1; \
	$(MAKE) --no-print-directory test-sanitize || status=1; \
	$(MAKE) --no-print-directory test-fuzz-corpus || status=1; \
	$(MAKE) --no-print-directory test-i386 || status=1; \
	if [ $$status -ne 0 ]; then echo "make test: FAILED"; else echo "make test: all suites passed"; fi; \
	exit $$status

# The inner loop: unit tests and the end-to-end cases on the 64-bit twin,
# without the sanitizer and fuzz builds and without the emulated guest.
test-quick: deps build-native build-win64
	@rm -rf build/wine
	@status=0; \
	$(MAKE) --no-print-directory test-native || status=1; \
	$(MAKE) --no-print-directory test-win64 || status=1; \
	$(MAKE) --no-print-directory test-e2e || status=1; \
	if [ $$status -ne 0 ]; then echo "make test-quick: FAILED"; else echo "make test-quick: all suites passed"; fi; \
	exit $$status

test-native:
	ctest --preset native -j$(JOBS)

test-win32:
	ctest --preset win32 -j$(JOBS)

test-win64:
	ctest --preset win64 -j$(JOBS)

# pytest exits non-zero on any failure, and with 5 when no case ran: both fail here.
test-e2e:
	tests/e2e/run --scr=build/win64/Quillomir.scr

# The native unit tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	cmake --preset native-sanitize
	cmake --build --preset native-sanitize -j$(JOBS)
	ctest --preset native-sanitize -j$(JOBS)

# The shipped 32-bit build, executed: its unit tests and end-to-end cases in an
# emulated x86 guest (these hosts cannot run 32-bit code). The guest image is
# built once and cached in ~/.cache/quillomir/guest; see tools/guest/README.md.
test-i386: deps build-win32
	tools/guest/test-i386

# Replays the checked-in fuzz corpus: every input that once found new coverage.
test-fuzz-corpus:
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	ctest --preset fuzz -j$(JOBS)

# Runs each fuzz target for FUZZ_SECONDS on a scratch copy of the corpus.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j$(JOBS)
	fuzz/run-fuzzers build/fuzz $(FUZZ_SECONDS)

run: deps build-win64
	tools/run-saver build/win64/Quillomir.scr

# What the saver costs: core benchmarks, then the saver beside two reference
# programs under Wine; writes build/bench/report.md and report.json.
bench: deps build-native build-win64
	python3 bench/run_bench.py

clean:
	rm -rf build
