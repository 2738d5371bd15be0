# Two entry points: `make run` builds and starts Velmora, `make test` builds and runs every test
# (once normally, once under AddressSanitizer and UndefinedBehaviorSanitizer, and the browser
# tests, whose reader thread shares the connection with the UI thread, under ThreadSanitizer).
# Both install the Debian packages they need first.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
BENCH_BUILD ?= build-bench
GENERATOR  := -G Ninja
CTEST_JOBS ?= 2

.PHONY: all deps build run test format-check test-release test-asan test-tsan bench clean

all: build

deps:
	@scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD)

run: build
	./$(BUILD)/app/velmora

test: deps format-check test-release test-asan test-tsan

# The browser tests that compare many large pictures pixel by pixel run in the release build
# only: under a sanitizer they take minutes, and what they ask of our code (captures beyond what
# the engine draws at once, cropped pieces, a PDF's frame) other tests ask too. The pieces test
# draws a smaller set under AddressSanitizer and is left out under ThreadSanitizer.
PIXEL_HEAVY := ^BrowserShownAreaTest\.(AViewBeyondTheRasterBudgetComesOutComplete|NarrowedPicturesEqualTheEnginesOwnScreenshot)$$|^PageMomentTest\.APdfInAFrameIsWaitedForButNotWhatMovesBesideIt$$
NOT_UNDER_TSAN := $(PIXEL_HEAVY)|^BrowserViewTest\.PiecesOfOneTurnShareCapturesAndMatchSeparateOnes$$

# The benchmarks are built too, so that a change that breaks them is seen here; they are run
# by hand (`make bench`). Two labels run elsewhere, as nearly all of their time is the engine's,
# the same in any build: velmora-capture's own suites (capture-tool) run in test-asan only, where
# the sanitizers see more of ours (their run here took a sixth of the test command's time), and
# the browser tests (browser) run under both sanitizers, ThreadSanitizer's build being optimised
# as this one is; here only those that test-tsan leaves out.
test-release:
	cmake -S . -B $(BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_BENCH=ON
	cmake --build $(BUILD)
	cd $(BUILD) && ctest --output-on-failure -j $(CTEST_JOBS) -L '^browser$$' -R '$(NOT_UNDER_TSAN)'
	cd $(BUILD) && ctest --output-on-failure -j $(CTEST_JOBS) -LE '^(capture-tool|browser)$$'

# The sanitizer builds compile each folder's sources a few at a time as one file, which builds
# them in half the time; the build above compiles every file on its own, so a file that
# compiles only beside another (an include it lacks) is still caught. The ASan build keeps line
# tables only, which is all a sanitizer's report needs (file and line of every frame): it builds
# in up to a tenth less time than with full debug information and takes a quarter less disk.
test-asan:
	cmake -S . -B $(ASAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=ON -DCMAKE_UNITY_BUILD=ON \
	      -DCMAKE_C_FLAGS_DEBUG=-g1 -DCMAKE_CXX_FLAGS_DEBUG=-g1
	cmake --build $(ASAN_BUILD)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(CTEST_JOBS) -E '$(PIXEL_HEAVY)'

# Every C++ file of the repository as .clang-format lays it out; a difference fails.
format-check:
	git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# Only the browser tests, where the connection's reader thread shares state with the UI thread:
# ThreadSanitizer slows a program many times over, and the rest of the tests would cost CI's time
# for little.
test-tsan:
	cmake -S . -B $(TSAN_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DCMAKE_UNITY_BUILD=ON
	cmake --build $(TSAN_BUILD) --target test_browser
	cd $(TSAN_BUILD)/tests/browser && ctest --output-on-failure -j $(CTEST_JOBS) -E '$(NOT_UNDER_TSAN)'

bench: deps
	cmake -S . -B $(BENCH_BUILD) $(GENERATOR) -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=ON
	cmake --build $(BENCH_BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD)
