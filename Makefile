# Two entry points for a fresh Debian 12 machine: `make demo` and `make test`.
BUILD      ?= build
TEST_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO_DIR   ?= demo

.PHONY: all deps build demo test clean

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

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(DEMO_DIR)
