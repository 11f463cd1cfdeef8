# Quillomir: the commands. `make test` and `make run` install what is missing.
.PHONY: all deps build build-native build-win32 build-win64 test test-native test-win32 test-win64 \
        test-e2e run clean test-sanitize test-fuzz-corpus fuzz dist test-dist \
        test-linux-e2e test-linux-dialog run-linux install bench bench-linux test-quick test-i386 \
        deb screenshots soak test-soak-short test-desktops test-tools

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

# Every suite runs whatever the others gave; tools/run-suites prints each one's
# time and result at the end.
TEST_SUITES = test-native test-win32 test-win64 test-e2e test-linux-e2e test-linux-dialog \
              test-soak-short test-tools test-sanitize test-fuzz-corpus test-dist test-i386
test: build
	@rm -rf build/wine
	@MAKE="$(MAKE)" tools/run-suites "make test" $(TEST_SUITES)

# The inner loop: unit tests and the end-to-end cases on the 64-bit twin,
# without the sanitizer and fuzz builds and without the emulated guest.
test-quick: deps build-native build-win64
	@rm -rf build/wine
	@MAKE="$(MAKE)" tools/run-suites "make test-quick" test-native test-win64 test-e2e

test-native:
	ctest --preset native -j$(JOBS)

test-win32:
	ctest --preset win32 -j$(JOBS)

test-win64:
	ctest --preset win64 -j$(JOBS)

# pytest exits non-zero on any failure, and with 5 when no case ran: both fail here.
test-e2e:
	tests/e2e/run --scr=build/win64/Quillomir.scr

# The Linux saver end to end: private Xvfb displays, the real xscreensaver,
# and for Wayland a private headless sway for each case (run as nobody when we
# are root; tools/wayland_session.py). Debian's pytest belongs to the system's Python.
PYTEST ?= /usr/bin/python3 -m pytest
test-linux-e2e:
	QUILLOMIR_BIN=$(CURDIR)/build/native/quillomir $(PYTEST) -q tests/linux/e2e

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

# The shipped 32-bit build, executed: its unit tests and end-to-end cases in an
# emulated x86 guest (these hosts cannot run 32-bit code). The guest image is
# built once and cached in ~/.cache/quillomir/guest; see tools/guest/README.md.
# The host side's own checks (qemu faked) come first: they take seconds. The
# guest also runs the 32-bit installer, from a release made for it alone.
test-i386: deps build-win32
	PYTHONDONTWRITEBYTECODE=1 $(SYSTEM_PYTHON) -m pytest -p no:cacheprovider -q tests/guest
	tools/make-dist --out build/guest-release
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

# The release in build/dist/: the zip with both executables, an installer for
# each architecture (signed when QUILLOMIR_SIGN_CERT and QUILLOMIR_SIGN_KEY are
# set, see tools/make-dist), the source tarball and the Debian packages of the
# last commit, the winget manifests, and SHA256SUMS over them all.
dist: deps
	tools/make-release

# The Debian packages alone, built from the last commit into build/dist/.
deb: deps
	tools/make-deb

# The release checked: the zip's layout and sums, a second build byte for byte,
# signing, the x64 installer run under Wine, the Debian packages (lintian, a
# second build, an install in a clean Debian root), the tarball and the winget
# manifests.
test-dist: dist build-win64
	/usr/bin/python3 -m pytest -q tests/dist

# The pictures in docs/images/, taken from the real programs on Xvfb.
screenshots: deps build-native build-win64
	tools/make-screenshots

run: deps build-win64
	tools/run-saver build/win64/Quillomir.scr

# The Linux saver: on $$DISPLAY, or on a private Xvfb with a screenshot.
run-linux: deps build-native
	tools/run-linux-saver build/native/quillomir

# The Linux programs, man page and xscreensaver option file under PREFIX
# (staged under DESTDIR when it is set): the saver where xscreensaver looks
# for its programs, PREFIX/libexec/xscreensaver, and linked into PREFIX/bin.
# Needs only what building the Linux programs needs (tools/install-deps --linux).
# Without DESTDIR, a PREFIX that you cannot write to stops it before anything
# is installed or built.
PREFIX ?= /usr/local
DESTDIR ?=
install:
	@if [ -z "$(DESTDIR)" ]; then \
	    p="$(PREFIX)"; while [ ! -e "$$p" ]; do p=$$(dirname "$$p"); done; \
	    if [ ! -w "$$p" ]; then \
	        echo "make install: you cannot write to $(PREFIX)." >&2; \
	        echo "  Build as yourself, then install as root:  make build-native && sudo make install" >&2; \
	        echo "  or stage it in a folder of yours:          make install DESTDIR=/tmp/stage" >&2; \
	        exit 1; \
	    fi; \
	fi
	@tools/install-deps --linux
	$(MAKE) build-native
	DESTDIR="$(DESTDIR)" cmake --install build/native --prefix "$(PREFIX)"

# What the saver costs: core benchmarks, then the saver beside two reference
# programs under Wine; writes build/bench/report.md and report.json. Then the
# Linux saver beside an Xlib floor program on Xvfb, and on headless sway beside
# a layer-shell floor program: build/bench/linux-report.md.
bench: deps build-native build-win64
	@status=0; \
	python3 bench/run_bench.py || status=1; \
	python3 bench/run_linux_bench.py || status=1; \
	exit $$status

# The Linux half of `make bench` alone.
bench-linux: deps build-native
	python3 bench/run_linux_bench.py

# Hours unattended, in short: every saver for SOAK_MINUTES on a display server of
# its own (Xvfb, or a headless sway for the Wayland saver) with its figures
# sampled (RSS, descriptors, threads, X resources, wl_shm pools, Windows handles
# and GDI objects), and started and stopped many times; build/soak/report.md.
# SOAK_KINDS picks some of x11, x11-root (--root), wine and wayland.
SOAK_MINUTES ?= 30
SOAK_KINDS ?= x11,x11-root,wine,wayland
soak: deps build-native $(if $(findstring wine,$(SOAK_KINDS)),build-win64)
	python3 tools/soak/soak.py --minutes $(SOAK_MINUTES) --kinds $(SOAK_KINDS)

# The soak's short form (3 minutes; 100, 25, 25 and 25 starts; all at once), its
# verdict rules and the leaking variants it must fail on; part of `make test`.
test-soak-short: deps build-native build-win64
	PYTHONDONTWRITEBYTECODE=1 $(PYTEST) -q -p no:cacheprovider tests/soak
	python3 tools/soak/soak.py --short --out build/soak-short

# The desktop matrix's own logic (pictures judged, verdicts, the README's
# table, the root's cache), without a root or a compositor: seconds.
test-tools:
	PYTHONDONTWRITEBYTECODE=1 $(PYTEST) -q -p no:cacheprovider tests/desktops

# The saver on the desktops Debian 13 and unstable ship, each compositor
# headless in a cached Debian root with the package installed by apt
# (tools/desktops/run-matrix, docs/desktops.md): DEB=FILE, or a package built
# from the last commit. Needs root. A suite of its own, which .ci/run runs
# after `make test`; fails when a desktop fails or the README's desktop table
# says other than it saw.
test-desktops: deps
	PYTHONDONTWRITEBYTECODE=1 $(PYTEST) -q -p no:cacheprovider tests/desktops
	tools/desktops/run-matrix $(if $(DEB),--deb $(DEB))

clean:
	rm -rf build
