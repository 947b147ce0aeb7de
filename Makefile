# zoq-upgrade: the two commands of the README.
#   make run    installs what is missing, builds, and starts the utility
#   make test   installs what is missing, builds, and runs every test
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: setup build run test test-asan test-tsan fuzz format check-format sim clean
.PHONY: fuzz-long fuzz-coverage

setup:
	@scripts/setup

build: setup
	@cmake --preset $(PRESET) $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

run: build
	@build/$(PRESET)/zoq-upgrade

# The simulated device at 127.0.0.2, to try the utility without a device (see README).
sim: build
	@build/$(PRESET)/tools/zoq-device-sim --help

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

test-asan:
	@$(MAKE) --no-print-directory test PRESET=asan

test-tsan:
	@$(MAKE) --no-print-directory test PRESET=tsan

fuzz: setup
	@cmake --preset fuzz $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@ctest --preset fuzz

# By hand: every fuzz target to ten million executions (RUNS=N for another count); long.
fuzz-long: setup
	@cmake --preset fuzz $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@scripts/fuzz-long

# Lines of the program that the saved fuzz inputs reach (llvm-cov), in build/fuzz-coverage/.
fuzz-coverage: setup
	@JOBS=$(JOBS) scripts/fuzz-coverage

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

check-format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@rm -rf build
