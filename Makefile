# The two commands a new machine needs (run as root on Debian 12):
#   make run    install what is missing, build, set this machine up as management
#               station and reporting server (once), and start the console
#   make test   install what is missing, build, and run every test
# Both may be run again at any time; they rebuild only what changed.
#
# Both use one build, build/release (the "release" preset: optimised, with debug
# information; the configuration the product runs and the benchmarks are
# measured in), so `make run` after `make test` builds nothing new, and
# `make test` after `make run` builds only the tests and benchmarks.
#
# Other targets:
#   make build          everything of build/release (product, tests, benchmarks), no test run
#   make build-release  only what `make run` sets up and starts (VNMgr, vnmachined, VN, VNSrv, vnsetup)
#   make build-debug    everything of build/debug (unoptimised, for a debugger), no test run
#   make test-debug     the same, and its tests
#   make asan           the tests in build/asan (address, leak and undefined-behaviour sanitizers)
#   make fuzz           the fuzz targets in build/fuzz (clang, libFuzzer), each run FUZZ_SECONDS (60)
#   make install        the product into PREFIX (/usr/local; DESTDIR honoured): programs, libraries,
#                       the desktop menu entry and its icon, the documentation
#   make screenshots    every picture of docs/ again (scripts/screenshots; needs install-deps --dev)
#   make clean          remove every build folder
# CTEST_ARGS passes options to ctest, e.g. make test CTEST_ARGS="-L platform".

JOBS ?= $(shell nproc)
CTEST_ARGS ?=
FUZZ_SECONDS ?= 60
PREFIX ?= /usr/local

.PHONY: run test build build-release configure-release build-debug test-debug asan fuzz deps clean install screenshots

deps:
	@scripts/install-deps

configure-release: deps
	@cmake --preset release >/dev/null

build-release: configure-release
	cmake --build --preset release -j $(JOBS) --target VNMgr vnmachined VN VNSrv vnsetup

build: configure-release
	cmake --build --preset release -j $(JOBS)

# What the desktop and the shell use: VNMgr from the menu, VN, vnadmin and
# vnmachined on the PATH.
install: deps
	@cmake --preset release -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build --preset release -j $(JOBS) --target VNMgr vnmachined VN VNSrv vnsetup vnadmin MAPI32
	cmake --install build/release

screenshots: build
	@scripts/install-deps --dev
	scripts/screenshots

# vnsetup makes this machine a management station and reporting server the
# first time (and changes nothing later); then the console starts.
run: build-release
	build/release/bin/vnsetup
	build/release/bin/VNMgr

test: build
	ctest --preset release -j $(JOBS) $(CTEST_ARGS)

build-debug: deps
	@cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)

test-debug: build-debug
	ctest --preset debug -j $(JOBS) $(CTEST_ARGS)

asan: deps
	@cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) $(CTEST_ARGS)

fuzz:
	@scripts/install-deps --fuzz
	@cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	scripts/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
