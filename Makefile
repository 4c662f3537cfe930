# The two commands a new machine needs (run as root on Debian 12):
#   make run    install what is missing, build, and start the console on this machine
#   make test   install what is missing, build, and run every test
# Both may be run again at any time; they rebuild only what changed.

JOBS ?= $(shell nproc)
CTEST_ARGS ?=

.PHONY: run test asan deps build-release build-debug clean

deps:
	@scripts/install-deps

build-release: deps
	cmake --preset release >/dev/null
	cmake --build --preset release -j $(JOBS) --target VNMgr vnmachined

build-debug: deps
	cmake --preset debug >/dev/null
	cmake --build --preset debug -j $(JOBS)

run: build-release
	build/release/bin/VNMgr

test: build-debug
	ctest --preset debug -j $(JOBS) $(CTEST_ARGS)

# The sanitizer build of the tests (address + undefined behaviour).
asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) $(CTEST_ARGS)

clean:
	rm -rf build
