# Entry points for a fresh machine:
#   make demo   installs what is missing, builds, and plays one demo game through the protocol
#   make test   installs what is missing, builds, and runs every test (release and sanitizer
#               builds, then a minute of coverage-guided fuzzing per fuzz target)

JOBS   ?= $(shell nproc)
WERROR ?= $(if $(CI),ON,OFF)

.PHONY: all setup release asan demo test test-release test-asan test-fuzz bench clean

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

test: test-release test-asan test-fuzz

bench: release
	build/release/bin/quoribo-gbench

clean:
	rm -rf build
