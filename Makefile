# The two commands for a new user are `make demo` and `make test`; both
# install what the build needs on a Debian machine when run as root.

MAKEFLAGS += --no-print-directory
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ zlib1g-dev libgtest-dev groff-base man-db dictfmt dictzip \
	dict-freedict-spa-eng

.PHONY: all deps build test demo bench clean

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

clean:
	rm -rf $(BUILD) examples/en-fr.pdb examples/en-fr.tmp
