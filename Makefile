# Front door for building, testing and running Quillon. Every target installs what is
# missing first (scripts/install-deps), so each works on a fresh Debian machine.

BUILD ?= build
JOBS ?= $(shell nproc)
# The tests spend their time waiting for the simulated device (a run of every test under
# AddressSanitizer takes 24 s of processor time in 260 s on two cores at two at a time):
# more of them at once than there are cores.
TEST_JOBS ?= $(shell echo $$((4 * $(JOBS))))
WERROR ?= ON
CMAKE_FLAGS ?=
CTEST_FLAGS ?=
# Builds give the same bytes for the same commit, in any folder and at any time: every time
# stamp a tool writes (the resource compiler's, the archives') is the last commit's.
ifeq ($(SOURCE_DATE_EPOCH),)
SOURCE_DATE_EPOCH := $(shell git log -1 --format=%ct 2>/dev/null)
endif
ifneq ($(SOURCE_DATE_EPOCH),)
export SOURCE_DATE_EPOCH
endif

.PHONY: all deps build test test-plain test-asan test-tsan demo info screenshots bench fuzz fuzz-ci \
        fuzz-build soak package package-build test-vm host-tools windows windows-build \
        windows-core test-windows clean

all: build

deps:
	@scripts/install-deps

# TARGETS: what to build (everything when empty).
TARGETS ?=

build: deps
	cmake -S . -B $(BUILD) -DQUILLON_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) $(if $(TARGETS),--target $(TARGETS))

# Every test, built with AddressSanitizer and UndefinedBehaviorSanitizer: a memory fault
# fails the run even where the test's own assertions would not notice it.
test: test-asan

# Every test in the plain build (quicker to build, no sanitizer).
test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(TEST_JOBS) --timeout 900 $(CTEST_FLAGS)

test-asan:
	$(MAKE) test-plain BUILD=build-asan CMAKE_FLAGS="-DQUILLON_ASAN=ON $(CMAKE_FLAGS)"

# The threaded parts (link, core, command line, wizard) under ThreadSanitizer; only the
# programs of those tests are built.
test-tsan:
	$(MAKE) test-plain BUILD=build-tsan CMAKE_FLAGS="-DQUILLON_TSAN=ON $(CMAKE_FLAGS)" \
	    CTEST_FLAGS="-L tsan $(CTEST_FLAGS)" TARGETS=quillon_tests_tsan

# The main job: the wizard against the simulated device (the command-line front end where
# there is no display).
demo: build
	scripts/demo $(BUILD)

info: build
	$(BUILD)/cli/quillon-cli info

# Renders the wizard's pages offscreen into $(BUILD)/screenshots/*.png for review.
screenshots: build
	cmake --build $(BUILD) --target screenshots

bench: build
	scripts/run-bench $(BUILD)

# libFuzzer targets (fuzz/) in a clang build of their own, every library instrumented.
# fuzz-ci: a short run of a fixed number of executions per target with a fixed seed;
# fuzz: a longer run of FUZZ_SECONDS per target (FUZZ_TARGETS="package version" picks some).
# Findings land in build-fuzz/fuzz/artifacts.
FUZZ_BUILD ?= build-fuzz
FUZZ_RUNS ?= 20000
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?=

fuzz-build:
	@scripts/install-deps fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DQUILLON_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target quillon_fuzzers

fuzz-ci: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) runs $(FUZZ_RUNS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) time $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# Uploads through the real engine against the simulated device with random faults and
# aborts (tools/soak); SOAK_ARGS, e.g. "--runs 1000 --seed 7".
# SOAK_JOBS shares the runs between that many processes at once (scripts/soak-shards): a
# run mostly waits, so 1,000 runs take about 9 minutes in 20 shares instead of 3 hours.
SOAK_ARGS ?=
SOAK_JOBS ?= 1
soak: deps
	cmake -S . -B $(BUILD) -DQUILLON_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null
	cmake --build $(BUILD) -j $(JOBS) --target quillon-soak
	$(if $(filter 1,$(SOAK_JOBS)),$(BUILD)/tools/soak/quillon-soak $(SOAK_ARGS),\
	    scripts/soak-shards $(BUILD)/tools/soak/quillon-soak $(SOAK_JOBS) $(SOAK_ARGS))

# The Debian package $(PKG_BUILD)/quillon_<version>_<arch>.deb: a Release build of its own
# with Debian's hardening flags and optimisation level (g++ 12 at -O3 warns falsely about
# std::vector comparisons), without the tests. scripts/check-package also installs it,
# tries it and removes it again.
PKG_BUILD ?= build-pkg
package-build:
	@scripts/install-deps package
	$(PKG_CMAKE)
	cmake --build $(PKG_BUILD) -j $(JOBS)

package: package-build
	cd $(PKG_BUILD) && cpack -G DEB

# The Windows programs, cross-built with Debian's mingw-w64 against Qt for Windows built
# from Debian's own source (scripts/build-qt-windows: cached under ~/.cache/quillon and
# reused), and their packages in dist/: quillon-<version>-win64.zip (portable) and
# quillon-<version>-setup.exe (per-user installer). The programs that run during the build
# (package builder, icon renderer) and the simulator the tests use come from the native
# Release build of `make package`, in $(PKG_BUILD).
WIN_BUILD ?= build-win
DIST ?= dist
PKG_CMAKE = export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g; \
	CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
	cmake -S . -B $(PKG_BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	    -DQUILLON_BUILD_TESTS=OFF -DQUILLON_WERROR=$(WERROR) >/dev/null

host-tools:
	@scripts/install-deps package
	$(PKG_CMAKE)
	cmake --build $(PKG_BUILD) -j $(JOBS) --target quillon-pkgbuild quillon-icons quillon-devsim quillon-cli

windows-build: host-tools
	@scripts/install-deps windows
	qt=$$(scripts/build-qt-windows | tail -n 1) && \
	cmake -S . -B $(WIN_BUILD) -G Ninja -DCMAKE_TOOLCHAIN_FILE="$$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
	    -DQT_CHAINLOAD_TOOLCHAIN_FILE="$(abspath cmake/windows/mingw-w64-x86_64.cmake)" \
	    -DCMAKE_CROSSCOMPILING_EMULATOR=wine -DQT_HOST_PATH=/usr \
	    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
	    -DQUILLON_HOST_TOOLS="$(abspath $(PKG_BUILD))" -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	    -DQUILLON_WERROR=$(WERROR) $(CMAKE_FLAGS) >/dev/null && \
	cmake --build $(WIN_BUILD) -j $(JOBS) && \
	scripts/package-windows $(WIN_BUILD) "$$qt" $(DIST)

windows: windows-build

# Without Qt for Windows: the system layer and the packages cross-built with warnings as
# errors, and the Windows serial device tried under
# wine against a pseudo-terminal mapped as COM5.
windows-core:
	@scripts/install-deps windows
	cmake -S . -B $(WIN_BUILD)-core -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/windows/mingw-w64-x86_64.cmake \
	    -DQUILLON_WINDOWS_CORE_ONLY=ON -DCMAKE_BUILD_TYPE=Release -DQUILLON_WERROR=$(WERROR) >/dev/null
	cmake --build $(WIN_BUILD)-core -j $(JOBS)
	scripts/test-windows-serial $(WIN_BUILD)-core

# The Windows build under wine: the cross-built suites, the command line through a COM port
# mapped onto the simulator, the wizard on a private X server (screenshots in
# $(WIN_BUILD)/screenshots).
test-windows: windows-build
	scripts/test-windows $(WIN_BUILD) $(PKG_BUILD) $(DIST)/quillon-$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' $(WIN_BUILD)/CMakeCache.txt)-win64

# The command line against the kernel's own serial drivers (ftdi_sio, the 8250 UART) in a
# QEMU guest, bridged to simulated devices on this side; it uses the package build's
# programs. VM_SCENARIOS picks some of: ftdi uart pull power.
VM_SCENARIOS ?=
test-vm: package-build
	@scripts/install-deps vm
	tests/vm/run $(PKG_BUILD) $(VM_SCENARIOS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-pkg build-win dist
