# The two commands for a new user are `make demo` and `make test`; both
# install what the build needs on a Debian machine when run as root.

MAKEFLAGS += --no-print-directory
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ zlib1g-dev libgtest-dev groff-base man-db

.PHONY: all deps build test demo bench clean windows windows-test

all: build

deps:
	@scripts/ensure-packages $(PACKAGES)

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	$(BUILD)/lexaro examples/en-fr.txt 100
	@echo
	$(BUILD)/lexaro-dump --check examples/en-fr.pdb

# Release build against a real dictionary; writes bench/results.md. Not part of test.
bench: deps
	bench/run

# lexaro.exe and lexaro-dump.exe, cross-compiled with MinGW-w64; their
# tests run under wine, and both builds must make the same databases.
WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGES = cmake make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
WINE_PACKAGES = wine wine64

windows:
	@scripts/ensure-packages $(WINDOWS_PACKAGES)
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target lexaro lexaro-dump

windows-test: build windows
	@scripts/ensure-packages $(WINE_PACKAGES)
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	scripts/wine-test $(BUILD) $(WINDOWS_BUILD) $(JOBS)

clean:
	rm -rf $(BUILD) $(WINDOWS_BUILD) examples/en-fr.pdb examples/en-fr.tmp
