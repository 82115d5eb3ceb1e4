# Two entry points for a fresh Debian 12 machine: `make demo` and `make test`.
BUILD      ?= build
TEST_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
DEMO_DIR   ?= demo

BENCH_BUILD ?= build-bench
FUZZ_BUILD  ?= build-fuzz
FUZZ_SECONDS ?= 60
# libewf leaks the buffer of each chunk it reads from a missing segment: the fuzz runs and the
# tests leave that leak to it (cmake/lsan.supp) and report every other.
export LSAN_OPTIONS := suppressions=$(CURDIR)/cmake/lsan.supp:print_suppressions=0
FUZZ_TARGETS := disk_image recording export_writer still_capture display_frames split_raw ewf_image carver

.PHONY: all deps deps-package configure build demo package check-package test bench fuzz fuzz-build fuzz-smoke clean

all: build

deps:
	@scripts/install-deps

deps-package:
	@scripts/install-deps package

# The release tree of `make build`, `make demo` and `make package`: no tests; an install or a
# package builds only what it installs. Configuring again on every run keeps the version (and
# the commit it names) current. Hardened as Debian builds its packages (dpkg-buildflags with
# every hardening feature), asked for when the recipe runs, after install-deps put dpkg-dev there.
# No debugging information: the package ships stripped programs, and leaving it out saves a
# quarter of the compile time (the sanitizer tree of `make test` is the one to debug in).
RELEASE_CONFIG := -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
	-DQUILLON_BUILD_TESTS=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON
configure:
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g; \
	cmake -S . -B $(BUILD) -G Ninja $(RELEASE_CONFIG) \
		-DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" >/dev/null

build: deps configure
	@ninja -C $(BUILD) -j $(JOBS)

# Only what the demo runs: the tool, the desktop program and the dialog pictures.
DEMO_TARGETS := quillon-cli quillon quillon-dialog-shots
demo:
	@echo "demo 1/4: Debian packages the build needs (scripts/install-deps)"
	@scripts/install-deps
	@echo "demo 2/4: configuring the release tree $(BUILD)/"
	@$(MAKE) --no-print-directory configure
	@echo "demo 3/4: building $(DEMO_TARGETS): $$(ninja -C $(BUILD) -n $(DEMO_TARGETS) | grep -c '^\[') steps to do"
	@ninja -C $(BUILD) -j $(JOBS) $(DEMO_TARGETS)
	@echo "demo 4/4: sample disks, what the tool finds on them, the player"
	@scripts/demo $(BUILD)/tools/cli/quillon-cli $(DEMO_DIR) $(BUILD)/ui/quillon

# quillon_<version>_<arch>.deb in this folder, from the release tree: the two programs and the
# files installed beside them, then CPack.
PACKAGE_TARGETS := quillon-cli quillon quillon-install-files
package: deps-package configure
	@ninja -C $(BUILD) -j $(JOBS) $(PACKAGE_TARGETS)
	@rm -rf $(BUILD)/package
	@cd $(BUILD) && cpack -G DEB -B package >/dev/null
	@rm -f quillon_*.deb
	@cp $(BUILD)/package/quillon_*.deb .
	@echo "package: $$(ls quillon_*.deb) (install: sudo apt install ./$$(ls quillon_*.deb))"

# lintian, then the package unpacked into a temporary root and tried there.
check-package: package
	@scripts/check-package

# The tests run under AddressSanitizer and UndefinedBehaviorSanitizer, and warnings stop the
# build here (and in CI) only: a user's newer compiler must never stop `make demo`.
test: deps
	@cmake -S . -B $(TEST_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLON_SANITIZE=ON \
		-DQUILLON_WERROR=ON >/dev/null
	@ninja -C $(TEST_BUILD) -j $(JOBS)
	@cd $(TEST_BUILD) && ctest --output-on-failure -j $(JOBS)

# Speed against a peer in the same run, in an optimised build.
bench: deps
	@cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@ninja -C $(BENCH_BUILD) quillon-bench-channels quillon-bench-storage quillon-bench-playback \
		quillon-bench-export quillon-bench-display quillon-bench-containers quillon-cli
	@$(BENCH_BUILD)/bench/quillon-bench-channels
	@$(BENCH_BUILD)/bench/quillon-bench-storage
	@$(BENCH_BUILD)/bench/quillon-bench-playback
	@$(BENCH_BUILD)/bench/quillon-bench-export $(BENCH_BUILD)/tools/cli/quillon-cli
	@$(BENCH_BUILD)/bench/quillon-bench-display
	@$(BENCH_BUILD)/bench/quillon-bench-containers

# libFuzzer targets (clang, ASan + UBSan), each run FUZZ_SECONDS on a working corpus seeded from
# fuzz/seeds; what a target finds lands in $(FUZZ_BUILD)/artifacts/<target>/.
fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DQUILLON_FUZZ=ON -DQUILLON_BUILD_TESTS=OFF -DQUILLON_WERROR=ON >/dev/null
	@ninja -C $(FUZZ_BUILD) -j $(JOBS) $(addprefix quillon-fuzz-,$(FUZZ_TARGETS))

# Shell steps for target $$t: its input size limit, and how many inputs a smoke run tries.
FUZZ_LEN  = len=""; [ $$t = recording ] && len=-max_len=81936; [ $$t = export_writer ] && len=-max_len=4096; \
	[ $$t = still_capture ] && len=-max_len=16384; \
	[ $$t = display_frames ] && len=-max_len=16384; [ $$t = carver ] && len=-max_len=65536; [ $$t = ewf_image ] && len=-max_len=65536
# libewf takes a chunk's buffer size from the file: a damaged table asks for up to 4 GiB, which
# it never touches. The E01 target's allowance for one allocation covers that.
FUZZ_MEM  = mem=""; [ $$t = ewf_image ] && mem=-malloc_limit_mb=4400
FUZZ_RUNS = runs=1500; [ $$t = disk_image ] && runs=6000; [ $$t = export_writer ] && runs=400; \
	[ $$t = still_capture ] && runs=2000; [ $$t = split_raw ] && runs=20000; \
	[ $$t = ewf_image ] && runs=1000

fuzz: fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
		mkdir -p $(FUZZ_BUILD)/corpus/$$t $(FUZZ_BUILD)/artifacts/$$t; \
		cp -n fuzz/seeds/$$t/* $(FUZZ_BUILD)/corpus/$$t/ || true; \
		echo "fuzz: $$t for $(FUZZ_SECONDS) s"; \
		$(FUZZ_LEN); $(FUZZ_MEM); \
		$(FUZZ_BUILD)/fuzz/quillon-fuzz-$$t $$len $$mem -max_total_time=$(FUZZ_SECONDS) -timeout=10 \
			-rss_limit_mb=2560 -print_final_stats=1 \
			-artifact_prefix=$(FUZZ_BUILD)/artifacts/$$t/ $(FUZZ_BUILD)/corpus/$$t; \
	done

# CI: every committed seed and regression once, then a few seconds of fuzzing per target from
# the seeds alone with a fixed random seed and count, so that CI sees the same inputs as any
# other run of the same commit.
fuzz-smoke:
	@for t in $(FUZZ_TARGETS); do mkdir -p fuzz/regressions/$$t; done
	@$(MAKE) --no-print-directory fuzz-build
	@set -e; for t in $(FUZZ_TARGETS); do \
		log=$(FUZZ_BUILD)/smoke-$$t.log; \
		$(FUZZ_MEM); \
		if ! $(FUZZ_BUILD)/fuzz/quillon-fuzz-$$t $$mem -runs=0 -timeout=10 fuzz/seeds/$$t \
				fuzz/regressions/$$t >$$log 2>&1; then \
			cat $$log; echo "fuzz-smoke: $$t fails on a committed input"; exit 1; \
		fi; \
		echo "fuzz-smoke: $$t passes its seeds and regressions"; \
	done
	@set -e; for t in $(FUZZ_TARGETS); do \
		dir=$(FUZZ_BUILD)/smoke/$$t; log=$(FUZZ_BUILD)/smoke-$$t-fuzz.log; \
		rm -rf $$dir; mkdir -p $$dir/corpus $$dir/artifacts; cp fuzz/seeds/$$t/* $$dir/corpus/; \
		$(FUZZ_LEN); $(FUZZ_RUNS); $(FUZZ_MEM); \
		if ! $(FUZZ_BUILD)/fuzz/quillon-fuzz-$$t $$len $$mem -seed=1 -runs=$$runs -timeout=10 \
				-rss_limit_mb=2560 -artifact_prefix=$$dir/artifacts/ $$dir/corpus >$$log 2>&1; then \
			tail -n 40 $$log; echo "fuzz-smoke: $$t found a failing input in $$dir/artifacts"; exit 1; \
		fi; \
		echo "fuzz-smoke: $$t ran $$runs mutated inputs without a finding"; \
	done

clean:
	rm -rf $(BUILD) $(TEST_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(DEMO_DIR)
	rm -f quillon_*.deb
