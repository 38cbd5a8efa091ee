# Set-up and everyday commands. `make run` and `make test` install what the
# machine lacks (scripts/install-deps.sh), build, then run.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
CTEST_FLAGS ?= --output-on-failure

.PHONY: all deps build run test test-fast test-asan bench clean

all: build

deps:
	./scripts/install-deps.sh

build: deps
	BUILD_DIR=$(BUILD_DIR) ./scripts/build.sh

run: build
	$(BUILD_DIR)/bin/corvalis $(BUILD_DIR)/fixtures/sample.mbtiles

# Every test, then the same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test: test-fast test-asan

test-fast: build
	cd $(BUILD_DIR) && ctest $(CTEST_FLAGS)

test-asan: deps
	BUILD_DIR=$(ASAN_DIR) CMAKE_ARGS="-DCORVALIS_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug" ./scripts/build.sh
	cd $(ASAN_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/lsan.supp:print_suppressions=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest $(CTEST_FLAGS)

bench: build
	./scripts/run-benchmarks.sh $(BUILD_DIR)

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR)
