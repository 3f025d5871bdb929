# make run   - installs what is missing, builds and starts the program
# make test  - installs what is missing, builds and runs every test: the
#              normal build, the sanitizer build and the bounded fuzz runs;
#              a compiler warning fails these builds (WERROR=OFF to allow)
# make bench - builds and runs the benchmarks

JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_GEN   := -G Ninja
WERROR      ?= OFF

.PHONY: all setup build build-asan build-fuzz test test-main test-asan fuzz run bench clean

all: build

setup:
	@./scripts/setup.sh

build: setup
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: setup
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTOLMID_SANITIZE=ON -DTOLMID_BENCH=OFF -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build-asan -j $(JOBS)

build-fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMID_FUZZ=ON -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

test-main: build
	@cd build && QT_QPA_PLATFORM=offscreen ctest -j $(JOBS) --output-on-failure

test-asan: build-asan
	@cd build-asan && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure

fuzz: build-fuzz
	@./scripts/run_fuzz.sh build-fuzz $(FUZZ_SECONDS)

test: test-main test-asan fuzz

# The builds of make test allow no warning; make run and the others do.
test test-main test-asan fuzz: WERROR = ON

run: build
	@if [ -x build/app/morvella ]; then \
	  cd "$(CURDIR)" && ./build/app/morvella; \
	else \
	  echo "The catalogue program is not built yet."; exit 1; \
	fi

bench: build
	@for b in build/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-fuzz
