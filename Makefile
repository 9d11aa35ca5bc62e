# Netvane: the two everyday commands are `make run` and `make test`.
# Every target first runs scripts/setup.sh, which installs only what is missing.

JOBS      ?= 2
BUILD     ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?=
# ccache where the machine has it; nothing otherwise.
LAUNCHER  ?= $(shell command -v ccache 2>/dev/null)

.PHONY: setup configure build run test check-sanitize asan tsan asan-smoke bench fuzz clean install package format format-check

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_CXX_COMPILER_LAUNCHER=$(LAUNCHER) $(CMAKE_FLAGS) >/dev/null
	@ln -sf $(BUILD)/compile_commands.json compile_commands.json

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	./$(BUILD)/app/netvane

test: build format-check
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

# The whole suite under AddressSanitizer+UBSan, then under ThreadSanitizer
# (which leaves out what Qt, not built with it, does inside itself: tests/tsan.supp).
# The builds and the sanitizers' settings are the presets in CMakePresets.json.
check-sanitize: asan tsan

asan tsan: setup
	@cmake --preset $@ -DCMAKE_CXX_COMPILER_LAUNCHER=$(LAUNCHER) >/dev/null
	@cmake --build --preset $@ -j $(JOBS)
	ctest --preset $@ -j $(JOBS)

# The decode, dump and capture suites alone under ASan+UBSan (CI runs it after make test).
asan-smoke: setup
	@cmake --preset asan -DCMAKE_CXX_COMPILER_LAUNCHER=$(LAUNCHER) >/dev/null
	@cmake --build --preset asan -j $(JOBS)
	ctest --preset asan-smoke -j $(JOBS)

bench: 
	@NETVANE_BENCH_TOOLS=1 bash scripts/setup.sh
	@cmake -S . -B build-bench -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DNETVANE_BENCH=ON >/dev/null
	@cmake --build build-bench -j $(JOBS)
	bash scripts/run-benchmarks.sh build-bench

fuzz: setup
	@cmake -S . -B build-fuzz -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DNETVANE_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target fuzz_decode fuzz_helper_request fuzz_capture_index
	bash scripts/run-fuzz.sh build-fuzz

# Installs into PREFIX (default /usr/local; DESTDIR is honoured): both programs,
# the capture helper (set up for the group netvane when run as root), the
# desktop entry, the icon theme files and the man pages.
PREFIX ?= /usr/local
install: setup
	@cmake -S . -B build-release -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	@cmake --build build-release -j $(JOBS)
	DESTDIR=$(DESTDIR) cmake --install build-release --prefix $(PREFIX)

# Debian package with CPack: build-release/netvane_<version>_amd64.deb, then
# lintian on it (errors fail) and hardening-check on its programs.
package: setup
	@NETVANE_PACKAGE_TOOLS=1 bash scripts/setup.sh
	@cmake -S . -B build-release -G $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
	  -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build build-release -j $(JOBS)
	cd build-release && cpack -G DEB
	bash scripts/check-package.sh build-release/netvane_*_amd64.deb

FORMAT_FILES = $(shell git ls-files '*.cpp' '*.h')
format:
	clang-format -i $(FORMAT_FILES)

format-check:
	@clang-format --dry-run --Werror $(FORMAT_FILES) && echo "format-check: clean"

clean:
	rm -rf build build-asan build-tsan build-bench build-fuzz build-release
