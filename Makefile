# The two commands for a new user are `make demo` and `make test`; both
# install what the build needs on a Debian machine when run as root or
# through sudo, and then build as the clone's owner.

MAKEFLAGS += --no-print-directory
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ zlib1g-dev libgtest-dev groff-base man-db dictfmt dictzip \
	dict-freedict-spa-eng edict liblzo2-dev
# The programs alone, as make demo, make install and make package build them.
PROGRAM_PACKAGES = cmake make g++ zlib1g-dev
# make package also needs dpkg-shlibdeps (and file) to declare the dependencies.
DEB_PACKAGES = dpkg-dev file
# make install and make package build in Release mode in a folder of their own.
PREFIX ?= /usr/local
RELEASE_BUILD ?= build-release
# Root in someone else's clone (sudo make demo) builds as the clone's owner.
AS_OWNER = scripts/as-clone-owner

# $(call cmake_build,FOLDER,BUILD_TYPE,TESTS): configure (quietly unless it
# fails), then build with CMake's progress lines.
define cmake_build
@echo "configuring $(1)/ with cmake: $(2) build, tests $(3)"
@$(AS_OWNER) cmake -S . -B $(1) -DCMAKE_BUILD_TYPE=$(2) -DLEXARO_TESTS=$(3) $(CMAKE_ARGS) >/dev/null
@$(AS_OWNER) cmake --build $(1) -j $(JOBS)
endef

.PHONY: all deps build programs test demo install package bench clean windows windows-test windows-zip

all: build

deps:
	@scripts/ensure-packages $(PACKAGES)

build: deps
	$(call cmake_build,$(BUILD),$(BUILD_TYPE),ON)

# As root this installs what make test needs as well, in the same wait.
programs:
	@scripts/ensure-packages $(PROGRAM_PACKAGES) -- $(PACKAGES)
	$(call cmake_build,$(BUILD),$(BUILD_TYPE),OFF)

test: build
	@$(AS_OWNER) ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: programs
	@echo "$(BUILD)/lexaro examples/en-fr.txt 100"
	@$(AS_OWNER) $(BUILD)/lexaro examples/en-fr.txt 100
	@echo
	@echo "$(BUILD)/lexaro-dump --check examples/en-fr.pdb"
	@$(AS_OWNER) $(BUILD)/lexaro-dump --check examples/en-fr.pdb

# Stripped programs and manual pages under PREFIX; says so when that needs root.
install:
	@scripts/install-programs --check $(PREFIX)
	@scripts/ensure-packages $(PROGRAM_PACKAGES)
	$(call cmake_build,$(RELEASE_BUILD),Release,OFF)
	@scripts/install-programs $(RELEASE_BUILD) $(PREFIX)

# lexaro_<version>_<arch>.deb in this folder, of whatever the install rules install.
package:
	@scripts/ensure-packages $(PROGRAM_PACKAGES) $(DEB_PACKAGES)
	$(call cmake_build,$(RELEASE_BUILD),Release,OFF)
	@echo "packing what $(RELEASE_BUILD)/ installs into a Debian package with cpack"
	@$(AS_OWNER) cpack --config $(RELEASE_BUILD)/CPackConfig.cmake -B $(RELEASE_BUILD) >/dev/null
	@rm -f lexaro_*.deb && $(AS_OWNER) mv $(RELEASE_BUILD)/lexaro_*.deb .
	@echo "wrote" lexaro_*.deb

# Release build against a real dictionary; writes bench/results.md. Not part of test.
bench: deps
	bench/run

# lexaro.exe and lexaro-dump.exe, cross-compiled with MinGW-w64; their
# tests run under wine, and both builds must make the same databases.
WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGES = cmake make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest
WINE_PACKAGES = wine wine64 python3

windows:
	@scripts/ensure-packages $(WINDOWS_PACKAGES)
	@echo "configuring $(WINDOWS_BUILD)/ with cmake for Windows (MinGW-w64): $(BUILD_TYPE) build"
	@$(AS_OWNER) cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) $(CMAKE_ARGS) >/dev/null
	@$(AS_OWNER) cmake --build $(WINDOWS_BUILD) -j $(JOBS) --target lexaro lexaro-dump lexaro-import

# lexaro-VERSION-windows-x64.zip: the stripped programs, README.txt and the
# manual pages as text, for people on Windows.
windows-zip: windows
	@scripts/ensure-packages zip unzip groff-base
	@$(AS_OWNER) scripts/windows-zip $(WINDOWS_BUILD)

windows-test: build windows
	@scripts/ensure-packages $(WINE_PACKAGES)
	@$(AS_OWNER) cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	@$(AS_OWNER) scripts/wine-test $(BUILD) $(WINDOWS_BUILD) $(JOBS)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(WINDOWS_BUILD) lexaro_*.deb lexaro-*-windows-x64.zip examples/en-fr.pdb examples/en-fr.tmp
