# make run   - installs what is missing, builds and starts the program in run/
# make test  - installs what is missing, builds and runs every test: the
#              normal build, the sanitizer build, the thread sanitizer build
#              of the threaded tests and the bounded fuzz runs; a compiler
#              warning fails these builds (WERROR=OFF to allow)
# make bench - builds and runs the benchmarks
# make crash-trials - kills repairs, restructures and writers at every step
#              and at random moments (CRASH_TRIALS of them, 250), creations
#              and the program's first start at every step and write, and
#              checks what the next start makes of each table

JOBS        ?= $(shell nproc)
FUZZ_SECONDS ?= 60
CRASH_TRIALS ?= 250
CMAKE_GEN   := -G Ninja
# Line tables only (-g1): backtraces and sanitizer reports keep their file and
# line, and the builds take about a quarter less time than with full -g.
REL_FLAGS   := -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
DBG_FLAGS   := -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" -DCMAKE_C_FLAGS_DEBUG="-O0 -g1"
WERROR      ?= OFF

.PHONY: all setup build build-asan build-tsan build-fuzz test test-main test-asan test-tsan fuzz run bench crash-trials clean

all: build

setup:
	@./scripts/setup.sh

build: setup
	@cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(REL_FLAGS) -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build -j $(JOBS)

build-asan: setup
	@cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug $(DBG_FLAGS) -DTOLMID_SANITIZE=ON -DTOLMID_BENCH=OFF -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build-asan -j $(JOBS)

# ThreadSanitizer: only the executables that hold threaded tests, and only
# those tests (thread objects and synchronisation, GIF painters, request
# state per thread, the watchdog, locks shared between threads).
TSAN_TARGETS := framework_tests gui_tests cgi_tests platform_tests dataset_tests
TSAN_TESTS   := ^(Thread\.|GIFPainter\.|GIFImageDraw\.|GIFThreads\.|EngineThreadsTest\.|WatchdogTest\.|[A-Za-z]+\.StalledClientIsEndedByTheWatchdog$$|FileErrors\.LastErrorIsPerThread$$|SessionTest\.SessionLockNestsAndExcludesOtherThreads$$)

build-tsan: setup
	@cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug $(DBG_FLAGS) -DTOLMID_TSAN=ON -DTOLMID_BENCH=OFF -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build-tsan -j $(JOBS) --target $(TSAN_TARGETS)

build-fuzz: setup
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(REL_FLAGS) -DTOLMID_FUZZ=ON -DTOLMID_WERROR=$(WERROR) >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

test-main: build
	@cd build && QT_QPA_PLATFORM=offscreen ctest -j $(JOBS) --output-on-failure

test-asan: build-asan
	@cd build-asan && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure

test-tsan: build-tsan
	@cd build-tsan && QT_QPA_PLATFORM=offscreen TSAN_OPTIONS=halt_on_error=1 \
	  ctest -j $(JOBS) --output-on-failure -R '$(TSAN_TESTS)'

fuzz: build-fuzz
	@./scripts/run_fuzz.sh build-fuzz $(FUZZ_SECONDS)

test: test-main test-asan test-tsan fuzz

# The builds of make test allow no warning; make run and the others do.
test test-main test-asan test-tsan fuzz: WERROR = ON

# The program runs in run/ (made on first use, with the home picture), so
# its first start makes a fresh catalogue in run/data.
run: build
	@mkdir -p run
	@[ -f run/_tavlin2.jpg ] || cp build/app/_tavlin2.jpg run/
	@cd run && ../build/app/morvella

bench: build
	@for b in build/bench/bench_*; do [ -x "$$b" ] && "$$b"; done; true

crash-trials: build
	@cd build && TOLMID_CRASH_TRIALS=$(CRASH_TRIALS) ./tests/storage/storage_tests --gtest_filter='TableCrashTest.*'
	@cd build && QT_QPA_PLATFORM=offscreen TOLMID_CRASH_TRIALS=$(CRASH_TRIALS) ./tests/app/app_tests --gtest_filter='StartupTest.FirstStartKilled*'

clean:
	rm -rf build build-asan build-tsan build-fuzz
