# Orvo: top-level commands. `make demo` and `make test` work on a fresh clone:
# missing Debian packages are installed first (we run as root).

JOBS ?= 2
BUILD ?= build
CMAKE_FLAGS ?=

# Debian packages the build, the tests, the tool and the Windows builds need.
PACKAGES := cmake g++ make pkg-config clang-format googletest libgtest-dev libgmock-dev \
            libbenchmark-dev libopenimageio-dev openimageio-tools ffmpeg libavcodec-dev \
            libavformat-dev libavutil-dev libswscale-dev libcli11-dev nlohmann-json3-dev \
            g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64

.PHONY: all deps build test sanitize asan tsan demo windows bench format clean

all: build

deps:
	@./scripts/install-deps.sh $(PACKAGES)

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

# AddressSanitizer + UndefinedBehaviorSanitizer on every test; ThreadSanitizer
# on the band-job and window tests.
sanitize: asan tsan

asan: deps
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DORVO_SANITIZE=address,undefined \
	      -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure -j$(JOBS) -LE slow

tsan: deps
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVO_SANITIZE=thread \
	      -DORVO_BUILD_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS) --target test_bands
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j$(JOBS) -L bands

bench: deps
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DORVO_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build build-bench -j$(JOBS)
	@if [ -x build-bench/bench/orvo_bench ]; then build-bench/bench/orvo_bench; fi

format:
	@git ls-files '*.cpp' '*.h' '*.hpp' | xargs -r clang-format -i

clean:
	rm -rf build build-asan build-tsan build-bench build-win32 build-win64 demo
