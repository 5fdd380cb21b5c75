# Orvo: top-level commands. `make demo` and `make test` work on a fresh clone:
# each first installs the Debian packages it uses and nothing more
# (scripts/install-deps.sh: as root, through sudo, or it names what to install).

JOBS ?= 2
BUILD ?= build
CMAKE_FLAGS ?=

# Debian packages, by what uses them.
BUILD_PACKAGES := cmake g++ make pkg-config
TOOL_PACKAGES := libopenimageio-dev libcli11-dev nlohmann-json3-dev
VIDEO_PACKAGES := ffmpeg
TEST_PACKAGES := googletest libgtest-dev libgmock-dev
BENCH_PACKAGES := libbenchmark-dev
FORMAT_PACKAGES := clang-format
WINDOWS_PACKAGES := g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64

DEMO_DEPS := $(BUILD_PACKAGES) $(TOOL_PACKAGES)
TEST_DEPS := $(DEMO_DEPS) $(VIDEO_PACKAGES) $(TEST_PACKAGES)
# Everything (`make deps`).
PACKAGES := $(TEST_DEPS) $(BENCH_PACKAGES) $(FORMAT_PACKAGES) $(WINDOWS_PACKAGES)

.PHONY: all deps deps-demo deps-test deps-windows deps-bench configure build test sanitize asan tsan demo windows \
        windows-check windows32-check windows32-golden bench farm-test fuzz test32 memory format clean mutate

all: build

deps:
	@./scripts/install-deps.sh $(PACKAGES)
deps-demo:
	@./scripts/install-deps.sh $(DEMO_DEPS)
deps-test:
	@./scripts/install-deps.sh $(TEST_DEPS)
deps-windows:
	@./scripts/install-deps.sh $(BUILD_PACKAGES) $(WINDOWS_PACKAGES)
deps-bench:
	@./scripts/install-deps.sh $(TEST_DEPS) $(BENCH_PACKAGES)

# Configured again on every run (quick when nothing changed), so packages
# installed since the last run (the test libraries after `make demo`) are found.
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

$(BUILD)/CMakeCache.txt: | deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps-test
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# `orvo farm` against a two-node Slurm cluster on this machine, which the test
# starts (scripts/farm-cluster.sh, installing Slurm and munge if missing) and
# stops again. Needs root.
farm-test: build
	cmake --build $(BUILD) -j$(JOBS) --target test_farm_cluster
	$(BUILD)/tests/farm/test_farm_cluster

# Keys the bundled green-screen sample: demo/composite.png and demo/views.png.
# Builds only the tool and the plug-in (no tests, no video packages).
demo: deps-demo
	@$(MAKE) --no-print-directory configure
	cmake --build $(BUILD) -j$(JOBS) --target orvo
	$(BUILD)/tools/orvo/orvo demo -o demo

# AddressSanitizer + UndefinedBehaviorSanitizer on every test; ThreadSanitizer
# on the band-job and window tests.
sanitize: asan tsan

asan: deps-test
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=address,undefined \
	      -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j$(JOBS) -LE slow

tsan: deps-test
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVO_SANITIZE=thread \
	      -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS) --target test_bands
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -L bands

bench: deps-bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DORVO_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j$(JOBS)
	python3 bench/run.py build-bench

# Windows plug-ins: build-win32/src/host/AEORVO.aex and build-win64/src/host/AEORVO.aex.
WINE64 ?= /usr/lib/wine/wine64
WINE32 ?= wine
WINE_TIMEOUT ?= 300
WIN_FLAGS := -DCMAKE_BUILD_TYPE=Release -DORVO_BUILD_TESTS=OFF -DORVO_BUILD_TOOLS=OFF

build-win32/CMakeCache.txt: | deps-windows
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake $(WIN_FLAGS)

build-win64/CMakeCache.txt: | deps-windows
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake $(WIN_FLAGS)

windows: deps-windows build-win32/CMakeCache.txt build-win64/CMakeCache.txt
	cmake --build build-win32 -j$(JOBS) --target AEORVO
	cmake --build build-win64 -j$(JOBS) --target AEORVO

# Loads the 64-bit plug-in through its PiPL under wine (fresh prefix, no
# debug output, time limit) and reads both plug-ins' PiPL back on Linux.
windows-check: windows $(BUILD)/CMakeCache.txt
	cmake --build build-win64 -j$(JOBS) --target orvo_wine_check
	cmake --build $(BUILD) -j$(JOBS) --target test_host
	ORVO_AEX64=build-win64/src/host/AEORVO.aex ORVO_AEX32=build-win32/src/host/AEORVO.aex \
	    $(BUILD)/tests/host/test_host --gtest_filter='BuiltAex.*'
	rm -rf build-win64/wineprefix
	WINEPREFIX=$(CURDIR)/build-win64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' \
	    timeout $(WINE_TIMEOUT) $(WINE64) build-win64/harness/orvo_wine_check.exe \
	    build-win64/src/host/AEORVO.aex

# The same run of the 32-bit plug-in; needs a 32-bit wine (not part of CI).
windows32-check: windows
	@command -v $(WINE32) >/dev/null || { echo "windows32-check: no 32-bit wine ($(WINE32))"; exit 1; }
	cmake --build build-win32 -j$(JOBS) --target orvo_wine_check
	rm -rf build-win32/wineprefix
	WINEPREFIX=$(CURDIR)/build-win32/wineprefix WINEARCH=win32 WINEDEBUG=-all \
	    WINEDLLOVERRIDES='mscoree,mshtml=' timeout $(WINE_TIMEOUT) $(WINE32) \
	    build-win32/harness/orvo_wine_check.exe build-win32/src/host/AEORVO.aex

# The 32-bit plug-in renders every golden case and must give the recorded
# hashes. 32-bit code cannot start on these machines, so it runs under wine in
# an emulated x86-64 VM, built once as root: $(W32VM)/build.sh (about 15 min,
# 5.5 GB in $(W32VM_CACHE)). Frames kept by a passing Linux golden run
# ($(BUILD)/golden-frames) let it count the differing pixels. Not part of CI.
W32VM ?= ../shared/tools/w32vm
W32VM_CACHE ?= /var/cache/w32vm
W32VM_TIMEOUT ?= 1800

windows32-golden: windows
	@[ -e $(W32VM_CACHE)/root.img ] || { echo "windows32-golden: no VM in $(W32VM_CACHE);" \
	    "build it once, as root (about 15 min, 5.5 GB): $(W32VM)/build.sh"; exit 1; }
	cmake --build build-win32 -j$(JOBS) --target orvo_golden_check
	W32VM_CACHE=$(W32VM_CACHE) W32VM_TIMEOUT=$(W32VM_TIMEOUT) $(W32VM)/run.sh $(CURDIR) -- \
	    wine build-win32/harness/orvo_golden_check.exe build-win32/src/host/AEORVO.aex \
	    tests/golden/golden_hashes.txt $(wildcard $(BUILD)/golden-frames)

# Seeded small changes to src/ (operators, comparisons, constants), each run
# against the fast tests; prints the share killed. MUTANTS and SEED choose them.
MUTANTS ?= 80
SEED ?= 1
mutate: deps
	python3 scripts/mutate.py --count $(MUTANTS) --seed $(SEED) --jobs $(JOBS)

# Render fuzzing (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer):
# builds build-fuzz/tests/fuzz/render_fuzz, which writes its seed inputs into
# build-fuzz/corpus, and runs it for FUZZ_TIME seconds from there and from the
# kept reproducers in tests/fuzz/corpus (new inputs go to build-fuzz/corpus,
# crashes to build-fuzz/crash-*). Not part of `make test`.
FUZZ_TIME ?= 60
FUZZ_PACKAGES := clang libclang-rt-14-dev
FUZZ_FLAGS ?=

fuzz:
	@./scripts/install-deps.sh $(BUILD_PACKAGES) $(FUZZ_PACKAGES)
	cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
	      -DCMAKE_CXX_COMPILER=clang++ -DORVO_SANITIZE=address,undefined -DORVO_FUZZ=ON \
	      -DORVO_BUILD_TESTS=OFF -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j$(JOBS) --target render_fuzz
	mkdir -p build-fuzz/corpus
	ASAN_OPTIONS=detect_leaks=1 build-fuzz/tests/fuzz/render_fuzz -max_total_time=$(FUZZ_TIME) \
	    -max_len=1200 -timeout=60 -print_final_stats=1 -artifact_prefix=build-fuzz/ \
	    $(FUZZ_FLAGS) build-fuzz/corpus tests/fuzz/corpus

# The 32-bit arithmetic: the plug-in and the golden suite built for i686 Linux
# with the 32-bit plug-in's arithmetic flags, run under qemu's user-mode
# emulator (one thread: thread hand-offs crawl under emulation); the recorded
# hashes must come out unchanged. Not part of `make test`.
TEST32_PACKAGES := g++-i686-linux-gnu qemu-user-static googletest
QEMU32 := qemu-i386-static -L /usr/i686-linux-gnu

test32:
	@./scripts/install-deps.sh cmake make $(TEST32_PACKAGES)
	cmake -S . -B build-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-linux.cmake \
	      -DCMAKE_BUILD_TYPE=Release -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-i686 -j$(JOBS) --target test_golden
	ORVO_GOLDEN_THREADS=1 $(QEMU32) build-i686/tests/golden/test_golden \
	    --gtest_filter=Golden.RendersMatchRecordedHashes

# Peak memory of a full-quality 8K composite, and a 16K frame under a hard
# address-space limit (MEMORY_LIMIT: room for the host's three 16K frames,
# not for the effect's work): it renders or fails cleanly.
MEMORY_LIMIT ?= 3584M

memory: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS) --target large_frame
	$(BUILD)/tests/fuzz/large_frame 7680 4320
	prlimit --as=$$(numfmt --from=iec $(MEMORY_LIMIT)) $(BUILD)/tests/fuzz/large_frame 16000 16000; \
	    status=$$?; [ $$status -eq 0 ] || [ $$status -eq 3 ]

format:
	@./scripts/install-deps.sh $(FORMAT_PACKAGES)
	@git ls-files '*.cpp' '*.h' '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-win32 build-win64 build-fuzz build-i686 demo
