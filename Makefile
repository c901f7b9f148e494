# Thin layer over CMake. Every target installs the Debian packages it needs first.
JOBS ?= $(shell nproc)
BUILD := build

.PHONY: all deps demo check test test-windows bench fuzz octave-package package clean

all: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD) -j $(JOBS)

deps:
	scripts/install-deps.sh build

demo: deps all
	scripts/demo.sh

# The quick lane while working: the Release build and every test but the Python, Octave and
# package ones (the whole suite, with the sanitizer passes, is `make test`).
check:
	scripts/install-deps.sh build test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DVID_WERROR=ON
	cmake --build $(BUILD) -j $(JOBS)
	ctest --test-dir $(BUILD) -j $(JOBS) --output-on-failure --no-tests=error -LE "python|octave|package"

test:
	scripts/install-deps.sh build test
	JOBS=$(JOBS) scripts/test-all.sh

# Windows x64 and x86 cross-builds; the x64 tests run under Wine.
test-windows:
	scripts/install-deps.sh build windows
	JOBS=$(JOBS) scripts/test-windows.sh

bench:
	scripts/install-deps.sh build bench
	cmake -S . -B $(BUILD)/bench -DCMAKE_BUILD_TYPE=Release -DVID_BUILD_BENCH=ON -DVID_BUILD_TESTS=OFF
	cmake --build $(BUILD)/bench -j $(JOBS)
	scripts/bench.sh $(BUILD)/bench

fuzz:
	scripts/install-deps.sh build test fuzz
	scripts/fuzz.sh

# The Debian package $(BUILD)/vidclip_<version>_amd64.deb (CPack).
package: all
	scripts/install-deps.sh package
	cmake --build $(BUILD) --target package

# The Octave package $(BUILD)/vid-<version>.tar.gz (pkg install builds its modules).
octave-package:
	scripts/octave-package.sh $(BUILD)

clean:
	rm -rf $(BUILD)
