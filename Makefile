# zoq-upgrade: the two commands of the README.
#   make run    installs what is missing, builds, and starts the utility
#   make test   installs what is missing, builds, and runs every test
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: setup build run test test-asan test-tsan fuzz format check-format sim clean windows test-windows

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

# The Windows build (mingw-w64): build/windows/zoq-upgrade.exe, one file that runs alone.
windows: setup
	@cmake --preset windows $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset windows -j $(JOBS)

# The unit and net suites as Windows programs under Wine (one at a time: they share a prefix).
test-windows: windows
	@ctest --preset windows

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

check-format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

clean:
	@rm -rf build
