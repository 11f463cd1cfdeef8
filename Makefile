# Quillomir: the commands. `make test` and `make run` install what is missing.
.PHONY: all deps build build-native build-win32 build-win64 test test-native test-win32 test-win64 \
        test-e2e test-linux-dialog run clean test-sanitize test-fuzz-corpus fuzz

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
	$(MAKE) --no-print-directory test-linux-dialog || status=1; \
	$(MAKE) --no-print-directory test-sanitize || status=1; \
	$(MAKE) --no-print-directory test-fuzz-corpus || status=1; \
	if [ $$status -ne 0 ]; then echo "make test: FAILED"; else echo "make test: all suites passed"; fi; \
	exit $$status

test-native:
	ctest --preset native -j$(JOBS)

test-win32:
	ctest --preset win32 -j$(JOBS)

test-win64:
	ctest --preset win64 -j$(JOBS)

test-e2e:
	tests/e2e/run build/win64/Quillomir.scr

# The GTK settings dialog on Xvfb: OK writes the settings file, the About box and
# its link. The system's python3 has the GObject bindings that read the dialog.
SYSTEM_PYTHON ?= /usr/bin/python3
test-linux-dialog: build-native
	PYTHONDONTWRITEBYTECODE=1 $(SYSTEM_PYTHON) -m pytest -p no:cacheprovider -q \
		tests/linux/test_settings_dialog.py

# The native unit tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	cmake --preset native-sanitize
	cmake --build --preset native-sanitize -j$(JOBS)
	ctest --preset native-sanitize -j$(JOBS)

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
