# The two commands for a new user are `make demo` and `make test`; both
# install what the build needs on a Debian machine when run as root or
# through sudo, and then build as the clone's owner.

MAKEFLAGS += --no-print-directory
BUILD ?= build
BUILD_TYPE ?= RelWithDebInfo
CMAKE_ARGS ?=
# Passed to ctest by make test, such as -R PATTERN to run some tests only.
CTEST_ARGS ?=
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
PACKAGES = cmake make g++ zlib1g-dev libgtest-dev groff-base man-db dictfmt dictzip \
	dict-freedict-spa-eng dict-freedict-fra-eng edict liblzo2-dev libsodium-dev libxxhash-dev
# The programs alone, as make demo, make install and make package build them.
# libc-bin: glibc's iconv program, from whose converters the build makes the
# character set tables (for the MinGW build too).
PROGRAM_PACKAGES = cmake make g++ zlib1g-dev libc-bin
# libminizip-dev: the zip reader of Yomitan dictionaries (the Windows build
# and the page compile it from Debian's source package instead).
PROGRAM_PACKAGES += libminizip-dev
PACKAGES += libminizip-dev
PACKAGES += libc-bin
# unicode-data and bzip2: Unicode's NormalizationTest.txt, against which the
# tests check composition.
PACKAGES += unicode-data bzip2
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

.PHONY: all deps build programs test demo install package bench freedict-check clean windows windows-test \
	windows-zip web web-serve web-test

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
	@$(AS_OWNER) ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) $(CTEST_ARGS)

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

# FreeDict's TEI files (Debian's source package freedict, fetched once
# unless FREEDICT_SOURCE names an unpacked tree) against the dictd files
# built from them; every TEI file of the package with FREEDICT_ALL=--all.
# Not part of test: it needs the 74 MB package.
freedict-check: programs
	@$(AS_OWNER) tests/freedict_tei.sh $(BUILD)/lexaro-import $(FREEDICT_ALL)

# minizip, the zip reader of Yomitan dictionaries, for the builds that
# Debian has no package of it for (Windows, the page): its two reading
# files compiled from Debian's source package (security updates included),
# which scripts/debian-source fetches into BUILD/sources/minizip-1.1 once.
MINIZIP_UPSTREAM = 1.1
# $(call minizip_source,BUILD): that source tree, fetched when missing.
define minizip_source
@test -f $(1)/sources/minizip-$(MINIZIP_UPSTREAM)/unzip.h || \
	$(AS_OWNER) scripts/debian-source minizip $(1)/sources >/dev/null
endef

# lexaro.exe and lexaro-dump.exe, cross-compiled with MinGW-w64; their
# tests run under wine, and both builds must make the same databases.
WINDOWS_BUILD ?= build-windows
WINDOWS_PACKAGES = cmake make g++-mingw-w64-x86-64-posix libz-mingw-w64-dev googletest libc-bin \
	dpkg-dev
WINE_PACKAGES = wine wine64 python3

windows:
	@scripts/ensure-packages $(WINDOWS_PACKAGES)
	$(call minizip_source,$(WINDOWS_BUILD))
	@echo "configuring $(WINDOWS_BUILD)/ with cmake for Windows (MinGW-w64): $(BUILD_TYPE) build"
	@$(AS_OWNER) cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
		-DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
		-DLEXARO_MINIZIP_SOURCE=$(abspath $(WINDOWS_BUILD)/sources/minizip-$(MINIZIP_UPSTREAM)) \
		$(CMAKE_ARGS) >/dev/null
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

# build-web/site/: the page that runs lexaro-import and lexaro-dump in a
# browser, built to WebAssembly with Debian's emscripten. zlib is compiled
# from Debian's source of the zlib that the native build links, so that the
# blocks are the same bytes; nothing else is downloaded. The site is static:
# any web server serves it (make web-serve: on http://localhost:8000/).
WEB_BUILD ?= build-web
WEB_PACKAGES = cmake make emscripten nodejs dpkg-dev zlib1g-dev
# Debian's zlib source: that of the installed zlib1g-dev, security updates
# included; where the mirror lacks it, the release's 1.2.13, whose deflate
# writes the same bytes (web-test compares them), and make web says so.
WEB_ZLIB = 1:1.2.13.dfsg-1
WEB_TEST_PACKAGES = chromium dict-freedict-deu-eng stardict-czech edict python3
# emcc's JavaScript passes need acorn, which a node other than Debian's
# finds only here.
WEB_ENV = env NODE_PATH=/usr/share/nodejs

# The source tree that scripts/debian-source unpacks: zlib-UPSTREAM_VERSION.
WEB_ZLIB_UPSTREAM = $(word 2,$(subst :, ,$(firstword $(subst -, ,$(WEB_ZLIB)))))
WEB_ZLIB_SOURCE = $(WEB_BUILD)/sources/zlib-$(WEB_ZLIB_UPSTREAM)

web:
	@scripts/ensure-packages $(WEB_PACKAGES) -- $(WEB_TEST_PACKAGES)
	@installed=$$(dpkg-query -W -f='$${Version}' zlib1g-dev); \
	case $$installed in $(firstword $(subst -, ,$(WEB_ZLIB)))-*) ;; *) \
		echo "zlib1g-dev $$installed is installed, the page's zlib is $(WEB_ZLIB):" \
			"set WEB_ZLIB to the source of the installed one" >&2; exit 1 ;; esac
	@installed=$$(dpkg-query -W -f='$${Version}' zlib1g-dev); \
	test -f $(WEB_ZLIB_SOURCE)/zlib.h || \
		$(AS_OWNER) scripts/debian-source zlib=$$installed $(WEB_BUILD)/sources >/dev/null 2>&1 || { \
		echo "warning: the source of zlib $$installed is not on the mirror; the page's zlib is" \
			"$(WEB_ZLIB), without the fixes of later updates" >&2; \
		$(AS_OWNER) scripts/debian-source zlib=$(WEB_ZLIB) $(WEB_BUILD)/sources >/dev/null; }
	$(call minizip_source,$(WEB_BUILD))
	@echo "configuring $(WEB_BUILD)/ with emscripten's cmake: Release build, zlib from $(WEB_ZLIB_SOURCE)"
	@$(AS_OWNER) $(WEB_ENV) emcmake cmake -S . -B $(WEB_BUILD) -DCMAKE_BUILD_TYPE=Release \
		-DLEXARO_TESTS=OFF -DLEXARO_ZLIB_SOURCE=$(abspath $(WEB_ZLIB_SOURCE)) \
		-DLEXARO_MINIZIP_SOURCE=$(abspath $(WEB_BUILD)/sources/minizip-$(MINIZIP_UPSTREAM)) \
		$(CMAKE_ARGS) >/dev/null
	@$(AS_OWNER) $(WEB_ENV) cmake --build $(WEB_BUILD) -j $(JOBS) --target web-site
	@echo "the site is $(WEB_BUILD)/site/: serve it with any static web server (make web-serve)"

web-serve: web
	@scripts/ensure-packages python3
	@echo "serving $(WEB_BUILD)/site/ on http://localhost:8000/ (Ctrl-C ends)"
	@cd $(WEB_BUILD)/site && python3 -m http.server --bind 127.0.0.1 8000

# The page in headless Chromium against the native programs.
web-test: programs web
	@scripts/ensure-packages $(WEB_TEST_PACKAGES)
	@echo "node web/browser_test.mjs: the page in headless Chromium against $(BUILD)/lexaro-import"
	@$(AS_OWNER) node web/browser_test.mjs $(WEB_BUILD)/site $(BUILD)

clean:
	rm -rf $(BUILD) $(RELEASE_BUILD) $(WINDOWS_BUILD) $(WEB_BUILD) lexaro_*.deb lexaro-*-windows-x64.zip examples/en-fr.pdb examples/en-fr.tmp
