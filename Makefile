# make run   - installs what is missing, builds and starts the program in run/
# make test  - installs what is missing, builds and runs every test: the
#              normal build, the sanitizer build and the bounded fuzz runs
# make bench - builds and runs the benchmarks

JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CMAKE_GEN   := -G Ninja

.PHONY: all setup build build-asan build-fuzz test test-main test-asan fuzz run bench clean

all: build

setup:
	@./scripts/setup.sh

build: setup
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: setup
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DTOLMID_SANITIZE=ON -DTOLMID_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)

build-fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOLMID_FUZZ=ON >/dev/null
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

# The program runs in run/ (made on first use, with the home picture), so
# its first start makes a fresh catalogue in run/data.
run: build
	@mkdir -p run
	@[ -f run/_tavlin2.jpg ] || cp build/app/_tavlin2.jpg run/
	@cd run && ../build/app/morvella

bench: build
	@for b in build/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

clean:
	rm -rf build build-asan build-fuzz
