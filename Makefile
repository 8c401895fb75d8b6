# Entry points: `make demo` and `make test` install what is missing (Debian 12, as root),
# build and run.

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

# What building, `make install` and `make deb` need (7zip: sfxbuild packs with 7zz; xz-utils:
# the window module is packed with xz; dpkg-dev: the package's library dependencies).
BUILD_PACKAGES = g++ cmake make pkg-config ca-certificates \
	libboost1.74-dev libboost-regex1.74-dev libboost-filesystem1.74-dev \
	libboost-iostreams1.74-dev libboost-log1.74-dev libboost-thread1.74-dev \
	libboost-system1.74-dev libarchive-dev libssl-dev nettle-dev \
	libmsi-dev libglib2.0-dev qt6-base-dev 7zip xz-utils dpkg-dev
# What only the tests need on top (fuse3: a file system whose reads fail, for the read-error test).
TEST_PACKAGES = libgtest-dev googletest msitools locales time \
	qt6-qpa-plugins qt6-translations-l10n xvfb xauth xdotool x11-utils openbox adwaita-icon-theme dbus-daemon fonts-dejavu-core \
	fonts-ipafont-gothic man-db python3 util-linux lintian libfuse3-dev fuse3
PACKAGES = $(BUILD_PACKAGES)
# The Windows build: mingw-w64 for its programs, Wine for their tests, and what unpacks and
# builds the libraries from Debian's source packages.
WINDOWS_PACKAGES = osslsigncode g++-mingw-w64-x86-64-posix wine wine64 m4 dpkg-dev xz-utils googletest \
	libboost1.74-dev cmake make msitools python3
# The window tests and their pictures: a virtual display with a window manager, Wine's own
# fonts (the dialog font) and a Japanese one behind them, ImageMagick's import, xdotool for
# the keys of a whole launcher run.
WINDOWS_GUI_PACKAGES = xvfb xdotool openbox fonts-wine fonts-ipafont-gothic imagemagick
WINDOWS_DIR ?= $(BUILD_DIR)/windows
WINDOWS_DEPS ?= $(BUILD_DIR)/windows-deps
# Only `make fuzz` needs these: clang with its libFuzzer runtime.
FUZZ_PACKAGES = clang libclang-rt-14-dev

.PHONY: all deps test-deps fuzz-deps bench-deps build test unit-test asan-test fuzz demo bench screenshots install deb clean \
	windows-deps windows windows-test windows-screenshots

all: build

# Peers the benchmarks time against; not needed to build or test.
BENCH_PACKAGES = makeself

deps:
	@missing=$$(for p in $(PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing: $$missing"; \
		if [ "$$(id -u)" -ne 0 ]; then SUDO=sudo; fi; \
		$$SUDO apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

test-deps: deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(TEST_PACKAGES)"

fuzz-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(FUZZ_PACKAGES)"

bench-deps: test-deps
	@$(MAKE) --no-print-directory deps PACKAGES="$(BENCH_PACKAGES)"

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: test-deps build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: test-deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DSFX_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_DIR) -j $(JOBS) --target unit_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(abspath tests/lsan.supp) \
		ctest --test-dir $(ASAN_DIR) -L unit --output-on-failure -j $(JOBS)

# Every libFuzzer target in fuzz/ built with clang and the sanitizers, then each run for
# FUZZ_SECONDS from seeds made by the ordinary build; fails when one finds a fault.
fuzz: build fuzz-deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DSFX_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_targets
	./fuzz/run.sh $(BUILD_DIR) $(FUZZ_DIR) $(FUZZ_SECONDS)

# The window tests on Qt's offscreen platform save what the windows draw as PNG files; the
# terminal tests save the screens they leave as text files.
screenshots: test-deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qt_tests integration_tests
	@# All window tests at 96 dpi; the ones that save pictures (English, German, Japanese,
	@# Greek) again at 144 dpi, 1.5 device pixels a pixel. A folder for each density.
	SFX_SCREENSHOT_DIR="$(abspath $(BUILD_DIR))/screenshots/96" \
		ctest --test-dir $(BUILD_DIR) -L qt --output-on-failure -j $(JOBS)
	SFX_SCREENSHOT_DIR="$(abspath $(BUILD_DIR))/screenshots/144" QT_SCALE_FACTOR=1.5 \
		QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bin/qt_tests \
		--gtest_filter='*Screenshots*:*LayoutsInEachLanguage*:*TextsFit*:*EnterAcceptsTheHiddenEntry*:*IconsFromTheDesktopTheme*'
	@# The same pictures once more as on a GNOME desktop (X server, the desktop's icon theme),
	@# in place of the bare ones: message boxes with the theme's icons.
	for d in 96:1 144:1.5; do \
		SFX_SCREENSHOT_DIR="$(abspath $(BUILD_DIR))/screenshots/$${d%%:*}" QT_SCALE_FACTOR=$${d#*:} \
		XDG_CURRENT_DESKTOP=GNOME QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1600x1200x24' \
		$(BUILD_DIR)/bin/qt_tests --gtest_filter='*Screenshots*:*IconsFromTheDesktopTheme*' || exit 1; \
	done
	@# The terminal's screens as text: progress at 40 and 80 columns, each prompt.
	SFX_SCREENSHOT_DIR="$(abspath $(BUILD_DIR))/screenshots/terminal" \
		ctest --test-dir $(BUILD_DIR) -R 'TerminalFace' --output-on-failure
	@echo "Screenshots in $(BUILD_DIR)/screenshots/96, /144 and /terminal"

demo: build
	./examples/demo.sh $(BUILD_DIR)

bench: build bench-deps
	./bench/run.sh $(BUILD_DIR)

# sfxbuild in $(PREFIX)/bin, the stub in $(PREFIX)/lib/sfx, manual pages in
# $(PREFIX)/share/man/man1; DESTDIR=... stages the whole tree below that folder.
install: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target sfxbuild sfxstub
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD_DIR) --prefix "$(PREFIX)"

# A Debian package with the same files below /usr, in $(BUILD_DIR).
deb: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target sfxbuild sfxstub
	cd $(BUILD_DIR) && cpack -G DEB

# The core and its unit tests as Windows programs (the libraries built once per machine from
# Debian's sources, tools/windows/build-deps.sh), and those tests run under Wine.
windows-deps:
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_PACKAGES)"
	tools/windows/build-deps.sh $(WINDOWS_DEPS) $(JOBS)

windows: windows-deps
	cmake -S . -B $(WINDOWS_DIR) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=$(abspath cmake/windows/mingw-w64-x86_64.cmake) \
		-DSFX_WINDOWS_PREFIX=$(abspath $(WINDOWS_DEPS)) \
		-DSFX_LINUX_SFXBUILD=$(abspath $(BUILD_DIR))/bin/sfxbuild >/dev/null
	cmake --build $(WINDOWS_DIR) -j $(JOBS)

windows-test: windows
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_GUI_PACKAGES)"
	tools/windows/wine-test.sh $(WINDOWS_DIR) -j $(JOBS)

# The Windows build's windows as pictures, at 96 and 144 dpi, in four languages:
# $(WINDOWS_DIR)/screenshots/DPI/LANGUAGE/*.png.
WINDOWS_SCREENSHOT_LANGUAGES = en-US de ja-JP el-GR
windows-screenshots: windows
	@$(MAKE) --no-print-directory deps PACKAGES="$(WINDOWS_GUI_PACKAGES)"
	for dpi in 96 144; do for lang in $(WINDOWS_SCREENSHOT_LANGUAGES); do \
		SFX_GUI_DPI=$$dpi SFX_SCREENSHOT_LANG=$$lang \
		SFX_SCREENSHOT_DIR="$(abspath $(WINDOWS_DIR))/screenshots/$$dpi/$$lang" \
		tests/windows/gui/run-gui-tests.sh $(WINDOWS_DIR)/bin/windows_gui_tests.exe \
			"$(abspath $(WINDOWS_DIR))/wine-prefix-gui" --gtest_filter='*Screenshots*' \
			|| exit 1; \
	done; done
	@echo "Screenshots in $(WINDOWS_DIR)/screenshots/96 and /144"

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR)
