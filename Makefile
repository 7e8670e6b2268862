# The project's commands. `make test` is what CI runs: it installs what the
# machine lacks, builds everything and runs every test.
SHELL := /bin/bash
JOBS ?= 2
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 15
SOAK_SECONDS ?= 600

NATIVE := build/native
ASAN := build/native-asan
WIN64 := build/win64
WIN32 := build/win32
FUZZ := build/fuzz
SESSION := scripts/wine-session.sh

.PHONY: all deps build build-native build-asan build-win64 build-win32 build-fuzz test test-native test-asan \
        test-win64 test-win32 \
        fuzz fuzz-smoke bench soak snapshots demo dist clean

all: build

deps:
	@scripts/install-deps.sh

$(NATIVE)/CMakeCache.txt:
	@cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

$(ASAN)/CMakeCache.txt:
	@cmake -S . -B $(ASAN) -DCMAKE_BUILD_TYPE=Debug -DKESTRINE_SANITIZE=ON -DKESTRINE_BENCH=OFF >/dev/null

$(WIN64)/CMakeCache.txt:
	@cmake -S . -B $(WIN64) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake >/dev/null

$(WIN32)/CMakeCache.txt:
	@cmake -S . -B $(WIN32) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake >/dev/null

$(FUZZ)/CMakeCache.txt:
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DKESTRINE_FUZZ=ON -DKESTRINE_BENCH=OFF >/dev/null

build-native: $(NATIVE)/CMakeCache.txt
	@cmake --build $(NATIVE) -j $(JOBS) >/dev/null

build-asan: $(ASAN)/CMakeCache.txt
	@cmake --build $(ASAN) -j $(JOBS) >/dev/null

build-win64: $(WIN64)/CMakeCache.txt
	@cmake --build $(WIN64) -j $(JOBS) >/dev/null

build-win32: $(WIN32)/CMakeCache.txt
	@cmake --build $(WIN32) -j $(JOBS) >/dev/null

build-fuzz: $(FUZZ)/CMakeCache.txt
	@# One target a call: the first regenerates the build when the targets have changed.
	@cmake --build $(FUZZ) -j $(JOBS) --target core_fuzz >/dev/null
	@cmake --build $(FUZZ) -j $(JOBS) --target long_series_fuzz >/dev/null

build: deps build-native build-win64 build-win32

test: deps build-native build-asan build-win64 build-win32 build-fuzz
	@echo "== core tests, native"
	@cd $(NATIVE) && ctest --output-on-failure
	@echo "== core tests, native with AddressSanitizer + UndefinedBehaviorSanitizer"
	@cd $(ASAN) && ctest --output-on-failure
	@echo "== Windows tests under Wine (own X server)"
	@$(SESSION) --own-x ctest --test-dir $(WIN64) --output-on-failure
	@$(MAKE) --no-print-directory test-win32
	@$(MAKE) --no-print-directory fuzz-smoke

# The x86 build's tests, after the x86-64 ones rather than beside them: two
# Wine suites at once do not fit two cores. A machine whose kernel runs no
# 32-bit programs (scripts/runs-x86.sh) has no 32-bit Wine; there only the
# checks that need no Wine run, and the line below says so.
test-win32: build-win32
	@if scripts/runs-x86.sh; then \
	    echo "== x86: Windows tests under 32-bit Wine (own X server)"; \
	    $(SESSION) --own-x ctest --test-dir $(WIN32) --output-on-failure; \
	else \
	    echo "== x86: NOT RUN under Wine: this machine's kernel runs no 32-bit programs; checks without Wine only"; \
	    ctest --test-dir $(WIN32) --output-on-failure -L no-wine; \
	fi

# Each target for FUZZ_SECONDS; the smoke splits its time between them.
fuzz: deps build-fuzz
	@mkdir -p $(FUZZ)/corpus $(FUZZ)/long-series-corpus
	@echo "== core_fuzz for $(FUZZ_SECONDS) s"
	@$(FUZZ)/core_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ)/corpus tests/fuzz/corpus
	@echo "== long_series_fuzz for $(FUZZ_SECONDS) s"
	@$(FUZZ)/long_series_fuzz -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	    $(FUZZ)/long-series-corpus tests/fuzz/long_series_corpus

LONG_SMOKE_SECONDS = $(shell expr $(FUZZ_SMOKE_SECONDS) / 2)
CORE_SMOKE_SECONDS = $(shell expr $(FUZZ_SMOKE_SECONDS) - $(LONG_SMOKE_SECONDS))

fuzz-smoke: build-fuzz
	@echo "== fuzzing the core for $(CORE_SMOKE_SECONDS) s"
	@mkdir -p $(FUZZ)/smoke-corpus $(FUZZ)/long-series-smoke-corpus
	@$(FUZZ)/core_fuzz -max_total_time=$(CORE_SMOKE_SECONDS) -print_final_stats=1 $(FUZZ)/smoke-corpus tests/fuzz/corpus \
	    >$(FUZZ)/smoke.log 2>&1 || { tail -n 40 $(FUZZ)/smoke.log; exit 1; }
	@grep -E '^stat::number_of_executed_units' $(FUZZ)/smoke.log || true
	@echo "== fuzzing long series against the plain paths for $(LONG_SMOKE_SECONDS) s"
	@$(FUZZ)/long_series_fuzz -max_total_time=$(LONG_SMOKE_SECONDS) -print_final_stats=1 \
	    $(FUZZ)/long-series-smoke-corpus tests/fuzz/long_series_corpus \
	    >$(FUZZ)/long-series-smoke.log 2>&1 || { tail -n 40 $(FUZZ)/long-series-smoke.log; exit 1; }
	@grep -E '^stat::number_of_executed_units' $(FUZZ)/long-series-smoke.log || true

bench: deps build-native build-win64 build-win32
	@echo "== core benchmarks, native"
	@$(NATIVE)/core_bench --benchmark_counters_tabular=true
	@echo "== frame renderer under Wine (own X server)"
	@$(SESSION) --own-x wine $(WIN64)/kestrine-bench-render.exe
	@echo "== ShowKestrine return and first frame at 96 DPI, x86-64 and x86 alternately (own X server)"
	@$(SESSION) --own-x bash tools/kestrine-bench-archs/bench_archs.sh $(WIN64) $(WIN32)
	@for dpi in 192 384; do \
	    echo "== ShowKestrine return and first frame under Wine at $$dpi DPI (own X server)"; \
	    scripts/with-dpi.sh $$dpi wine $(WIN64)/kestrine_bench.exe || exit 1; \
	done
	@if scripts/runs-x86.sh; then \
	    echo "== x86: frame renderer under 32-bit Wine (own X server)"; \
	    $(SESSION) --own-x wine $(WIN32)/kestrine-bench-render.exe; \
	else \
	    echo "== x86: frame renderer NOT RUN: this machine's kernel runs no 32-bit programs"; \
	fi
	@echo "== live card: kestrine-show --follow, 10 lines every 10 ms for 30 s, under Wine (own X server)"
	@$(SESSION) --own-x bash tools/kestrine-bench-follow/follow_bench.sh $(WIN64) 30

# The full-speed stress of the exports for SOAK_SECONDS: eight host threads
# showing and closing cards without pause. Not part of `make test`.
soak: deps build-win64
	@echo "== eight threads at full speed for $(SOAK_SECONDS) s under Wine (own X server)"
	@$(SESSION) --own-x wine $(WIN64)/card_host_test.exe --dll=kestrine_test.dll \
	    --gtest_filter=Counted.eight_threads_at_full_speed_hold_and_leave_nothing_behind \
	    --stress-seconds=$(SOAK_SECONDS)

# Card frames drawn into memory and written as PNGs, for people to look at.
snapshots: deps build-win64
	@$(SESSION) --own-x tools/kestrine-snapshot/snapshot-set.sh $(WIN64)/kestrine-snapshot.exe build/snapshots

# The main job: the sample trading day shown by kestrine-show.exe under Wine.
# With a display the card appears on it; without one, on a private Xvfb, and
# the screenshot of the finished card goes to build/demo.png.
demo: deps $(WIN64)/CMakeCache.txt
	@cmake --build $(WIN64) -j $(JOBS) --target kestrine-show >/dev/null
	@scripts/demo.sh

# The release packages: build/dist/kestrine-<version>-win64.zip (x86-64) and
# kestrine-<version>-win32.zip (x86).
dist: deps build-win64 build-win32
	@mkdir -p build/dist
	@cp $(WIN64)/dist/kestrine-*-win64.zip $(WIN32)/dist/kestrine-*-win32.zip build/dist/
	@ls build/dist/kestrine-*-win64.zip build/dist/kestrine-*-win32.zip

clean:
	rm -rf build
