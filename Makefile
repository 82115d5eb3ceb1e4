# Two entry points for a fresh Debian 12 machine: `make demo` and `make test`.
BUILD      ?= build
TEST_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO_DIR   ?= demo

BENCH_BUILD ?= build-bench

.PHONY: all deps build demo test bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@ninja -C $(BUILD) -j $(JOBS)

demo: build
	@scripts/demo $(BUILD)/tools/cli/quillon-cli $(DEMO_DIR)

# The tests run under AddressSanitizer and UndefinedBehaviorSanitizer.
test: deps
	@cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON >/dev/null
	@ninja -C $(TEST_BUILD) -j $(JOBS)
	@cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed against a peer in the same run, in an optimised build.
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@ninja -C $(BENCH_BUILD) quillon-bench-channels quillon-bench-storage quillon-bench-playback \
		quillon-bench-export quillon-cli
	@$(BENCH_BUILD)/bench/quillon-bench-channels
	@$(BENCH_BUILD)/bench/quillon-bench-storage
	@$(BENCH_BUILD)/bench/quillon-bench-playback
	@$(BENCH_BUILD)/bench/quillon-bench-export $(BENCH_BUILD)/tools/cli/quillon-cli

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(DEMO_DIR)
