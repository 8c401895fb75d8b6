# Entry points: `make demo` and `make test` install what is missing (Debian 12, as root),
# build and run.

BUILD_DIR ?= build
ASAN_DIR ?= build-asan
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

PACKAGES = g++ cmake make pkg-config ca-certificates \
	libboost1.74-dev libboost-regex1.74-dev libboost-filesystem1.74-dev \
	libboost-iostreams1.74-dev libboost-log1.74-dev libboost-thread1.74-dev \
	libboost-system1.74-dev libarchive-dev libssl-dev nettle-dev libgtest-dev googletest \
	7zip libmsi-dev msitools libglib2.0-dev locales time \
	qt6-base-dev qt6-qpa-plugins xvfb xauth xdotool dbus-daemon fonts-dejavu-core \
	fonts-ipafont-gothic man-db python3 util-linux xz-utils

.PHONY: all deps bench-deps build test unit-test asan-test demo bench screenshots install deb clean

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

bench-deps: deps
	@missing=$$(for p in $(BENCH_PACKAGES); do \
		dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q '^install ok installed' || echo $$p; \
	done); \
	if [ -n "$$missing" ]; then \
		echo "Installing: $$missing"; \
		if [ "$$(id -u)" -ne 0 ]; then SUDO=sudo; fi; \
		$$SUDO apt-get update -qq && \
		DEBIAN_FRONTEND=noninteractive $$SUDO apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) --output-on-failure -j $(JOBS)

# The unit tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
asan-test: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DSFX_SANITIZE=ON >/dev/null
	cmake --build $(ASAN_DIR) -j $(JOBS) --target unit_tests
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
		ctest --test-dir $(ASAN_DIR) -L unit --output-on-failure -j $(JOBS)

# The window tests on Qt's offscreen platform; they save what the windows draw as PNG files.
screenshots: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS) --target qt_tests
	ctest --test-dir $(BUILD_DIR) -L qt --output-on-failure -j $(JOBS)
	@echo "Screenshots in $(BUILD_DIR)/screenshots:"; ls $(BUILD_DIR)/screenshots

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

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
