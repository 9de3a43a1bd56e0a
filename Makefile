# Entry points for a fresh machine:
#   make demo   installs what is missing, builds, and plays one demo game through the protocol
#   make test   installs what is missing, builds, and runs every test (release and sanitizer
#               builds, a minute of coverage-guided fuzzing per fuzz target, and the Windows
#               build under Wine; WINDOWS=OFF leaves out the Windows build and its Wine tests)
# Release:
#   make windows   cross-builds build/windows/bin/pbrain-quoribo.exe (MinGW-w64)
#   make dist      writes the Windows zip and the Linux tarball into dist/

JOBS    ?= $(shell nproc)
WERROR  ?= $(if $(CI),ON,OFF)
WINDOWS ?= ON

.PHONY: all setup release asan windows demo test test-release test-asan test-fuzz test-windows dist bench clean

all: release

setup:
	@scripts/setup.sh

release: setup
	cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DQUORIBO_WERROR=$(WERROR)
	cmake --build build/release -j $(JOBS)

asan: setup
	cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORIBO_SANITIZE=ON \
	      -DQUORIBO_BENCH=OFF -DQUORIBO_WERROR=$(WERROR)
	cmake --build build/asan -j $(JOBS)

windows: setup
	cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DQUORIBO_WERROR=$(WERROR) \
	      -DQUORIBO_HOST_BIN_DIR=$(CURDIR)/build/release/bin
	cmake --build build/windows -j $(JOBS)

demo: release
	scripts/demo.sh build/release/bin

test-release: release
	cd build/release && ctest --output-on-failure -j $(JOBS)

test-asan: asan
	cd build/asan && ctest --output-on-failure -j $(JOBS)

# clang and libFuzzer, under AddressSanitizer and UBSan (build/fuzz).
FUZZ_SECONDS ?= 60
test-fuzz: setup
	scripts/fuzz.sh $(FUZZ_SECONDS)

# Runs the Windows executables under Wine against the Linux release build.
test-windows: release windows
	cd build/windows && ctest --output-on-failure -j $(JOBS)

ifeq ($(WINDOWS),OFF)
test: test-release test-asan test-fuzz
	@echo "WINDOWS=OFF: the Windows build and its Wine tests were left out"
else
test: test-release test-asan test-fuzz test-windows
endif

dist: release windows
	rm -rf dist
	/usr/bin/python3 scripts/dist.py build/release/bin build/windows/bin dist

bench: release
	build/release/bin/quoribo-gbench

clean:
	rm -rf build dist
