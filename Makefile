# Set-up and everyday commands. `make run` and `make test` install what the
# machine lacks (scripts/install-deps.sh), build, then run. Each build folder
# is configured from the preset of the same name in CMakePresets.json
# (warnings are errors in all of them).
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
TSAN_DIR ?= build-tsan
RELEASE_DIR ?= build-release
# The tests that exercise the renderer's decode threads, also run under ThreadSanitizer.
TSAN_TESTS ?= test_maprenderer test_renderpool test_asynccompose test_vectorstores test_storecheck \
	test_storecheck_output
# Seconds each fuzz target runs: briefly in `make test`, as long as asked in `make fuzz`.
FUZZ_SECONDS ?= 600
FUZZ_TEST_SECONDS ?= 30
CTEST_FLAGS ?= --output-on-failure

.PHONY: all deps build run test test-fast test-release test-asan test-tsan test-fuzz package \
	fuzz soak bench screenshot tidy clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	BUILD_DIR=$(BUILD_DIR) PRESET=default ./scripts/build.sh

run: build
	$(BUILD_DIR)/bin/corvalis $(BUILD_DIR)/fixtures/sample.mbtiles

# Every test; the Release build of every target and the Debian package made
# from it, unpacked and run; the suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer; the renderer's tests with ThreadSanitizer; every
# fuzz target briefly on its corpus.
test: test-fast test-release test-asan test-tsan test-fuzz

test-fast: build
	cd $(BUILD_DIR) && ctest $(CTEST_FLAGS)

# The Debian package (build-release/corvalis_VERSION_ARCH.deb), made in a
# Release build of every target (GCC, as distributions build).
package: deps
	BUILD_DIR=$(RELEASE_DIR) PRESET=release ./scripts/build.sh package

# The suite in the Release build too (-O3, no assertions), then the package unpacked and run.
test-release: package
	cd $(RELEASE_DIR) && ctest $(CTEST_FLAGS)
	./tests/package/unpack.sh $(RELEASE_DIR)

# intercept_tls_get_addr=0: the leak check at exit otherwise reads the dynamic
# TLS of the image plugins Qt loads as garbage and crashes (GCC 12's libasan).
test-asan: deps
	BUILD_DIR=$(ASAN_DIR) PRESET=asan ./scripts/build.sh
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

# (The fixture generator runs under the sanitizer too, while building.)
TSAN_ENV = TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/scripts/tsan.supp
test-tsan: deps
	$(TSAN_ENV) BUILD_DIR=$(TSAN_DIR) PRESET=tsan ./scripts/build.sh $(TSAN_TESTS)
	cd $(TSAN_DIR) && $(TSAN_ENV) ctest $(CTEST_FLAGS) -R '^($(subst $(eval) ,|,$(strip $(TSAN_TESTS))))$$'

test-fuzz: deps
	FUZZ_SECONDS=$(FUZZ_TEST_SECONDS) ./scripts/fuzz.sh

# Long fuzzing: make fuzz FUZZ_SECONDS=1800 [FUZZ_TARGETS="fuzz_store ..."]
fuzz: deps
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./scripts/fuzz.sh $(FUZZ_TARGETS)

# Several minutes in the real window over stores of every layout (not part of `make test`).
soak: build
	./scripts/soak.sh $(BUILD_DIR)

bench: build
	./scripts/run-benchmarks.sh $(BUILD_DIR)

# The README's picture of the window on the sample store (SHOT_PALETTE=1: 256 colours).
screenshot: build
	./scripts/screenshot.sh $(BUILD_DIR) docs/screenshot.png

# clang-tidy (.clang-tidy) over src/ with the build's compile commands (not part of `make test`).
tidy: build
	./scripts/tidy.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(TSAN_DIR) $(RELEASE_DIR) build-fuzz
