# zoq-upgrade: the two commands of the README.
#   make run    installs what is missing, builds, and starts the utility
#   make test   installs what is missing, builds, and runs every test
PRESET ?= default
JOBS ?= $(shell nproc)
# The package sets (scripts/packages/*.txt) a target needs; its prerequisites install them.
SETS = run
test test-asan test-tsan fuzz fuzz-long: SETS = run test package release
fuzz-coverage: SETS = run test package coverage
package: SETS = run package
windows test-windows: SETS = run test windows
release check-reproducible: SETS = run package windows release
check-debian13: SETS = run package debian13

.PHONY: setup build run test test-asan test-tsan fuzz format check-format sim clean windows test-windows
.PHONY: fuzz-long fuzz-coverage check-layers check-debian13

setup:
	@scripts/setup $(SETS)

build: setup
	@cmake --preset $(PRESET) $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset $(PRESET) -j $(JOBS)

# The bind helper of the build tree gets its capability on a root-owned copy, which the program
# run from the build tree finds below /usr/local.
BIND_HELPER = /usr/local/libexec/zoq-upgrade/zoq-upgrade-bind
run: build
	@scripts/grant-capability $(BIND_HELPER) build/$(PRESET)/zoq-upgrade-bind
	@build/$(PRESET)/zoq-upgrade

.PHONY: install package
# Installs under PREFIX (default /usr/local), through sudo unless root: executable, its bind
# helper (with the capability to bind the TFTP port), menu entry, icons, metainfo.
install: build
	@$(if $(filter 0,$(shell id -u)),,sudo) cmake --install build/$(PRESET) $(if $(PREFIX),--prefix $(PREFIX))

# A Debian package of the build: build/$(PRESET)/zoq-upgrade_VERSION_ARCH.deb
package: build
	@cd build/$(PRESET) && cpack -G DEB

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

# Without git (or outside a checkout) there is no file list: that is a failure, not a pass.
CXX_FILES = files=$$(git ls-files '*.cpp' '*.h') && [ -n "$$files" ] || \
	{ echo "make $@: cannot list the C++ files: needs git and a git checkout" >&2; exit 1; }

# The Windows build (mingw-w64): build/windows/zoq-upgrade.exe, one file that runs alone.
windows: setup
	@cmake --preset windows $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset windows -j $(JOBS)

# The unit and net suites as Windows programs under Wine (one at a time: they share a prefix).
test-windows: windows
	@ctest --preset windows

# By hand: every fuzz target to ten million executions (RUNS=N for another count); long.
fuzz-long: setup
	@cmake --preset fuzz $(CMAKE_ARGS) >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)
	@scripts/fuzz-long

# Lines of the program that the saved fuzz inputs reach (llvm-cov), in build/fuzz-coverage/.
fuzz-coverage: setup
	@JOBS=$(JOBS) scripts/fuzz-coverage

format:
	@$(CXX_FILES); echo "$$files" | xargs clang-format -i

# The shell scripts: scripts/ (but the package lists), the benchmarks, the shell tests, CI's.
SHELL_FILES = files=$$(git ls-files scripts ':!scripts/packages' 'bench/*.sh' 'tests/*.sh' .ci/run) && \
	[ -n "$$files" ] || \
	{ echo "make $@: cannot list the shell scripts: needs git and a git checkout" >&2; exit 1; }

check-format: check-layers
	@$(CXX_FILES); echo "$$files" | xargs clang-format --dry-run --Werror
	@command -v shellcheck >/dev/null || \
		{ echo "make $@: shellcheck is missing: scripts/setup test installs it" >&2; exit 1; }
	@$(SHELL_FILES); echo "$$files" | xargs shellcheck -x

# Every include and forward declaration of the core goes down the layers (ARCHITECTURE.md);
# also part of check-format, and the `layers` test of `make test`.
check-layers:
	@scripts/check-layers

clean:
	@rm -rf build

# The release files of the current commit in dist/ (.deb, Windows .zip, source .tar.gz and
# SHA256SUMS), built from a clean copy of the commit so that anyone can rebuild them byte for byte.
.PHONY: release check-reproducible
release: setup
	@JOBS=$(JOBS) scripts/release

# Two release builds at two paths, one after the other, compared byte for byte; long (minutes).
check-reproducible: setup
	@JOBS=$(JOBS) scripts/check-reproducible

# The README's two commands on a fresh Debian 13 (trees in build/debian13/, as root; long): the
# package of this build installed there and started, then make test and make test-windows.
check-debian13: setup
	@JOBS=$(JOBS) scripts/check-debian13
