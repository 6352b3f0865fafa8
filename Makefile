# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands: `make run` and `make test`. Everything else is a step of theirs.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
JOBS       ?= $(shell nproc)
GENERATOR  := $(shell command -v ninja >/dev/null 2>&1 && echo Ninja || echo "Unix Makefiles")
WERROR     := $(if $(CI),ON,OFF)

.PHONY: all deps test-deps configure build run test test-main test-asan test-tsan bench format package

all: build

deps:
	@scripts/install-deps

test-deps:
	@scripts/install-deps --test

configure: deps
	@cmake -S . -B $(BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-default $(BUILD)

test: test-main test-asan test-tsan

test-main: test-deps build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# A second tree with AddressSanitizer and UndefinedBehaviorSanitizer; no benchmarks there.
test-asan: test-deps
	@cmake -S . -B $(ASAN_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_SANITIZE=ON -DKELVANE_WERROR=$(WERROR) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 900 -LE nosan

# The hand-offs between threads (audio callbacks and the owner, the file reader and the run),
# under ThreadSanitizer.
test-tsan: test-deps
	@cmake -S . -B $(TSAN_BUILD) -G "$(GENERATOR)" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKELVANE_WITH_QT=OFF -DKELVANE_BENCH=OFF -DKELVANE_TSAN=ON -DKELVANE_WERROR=$(WERROR) >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target audio_tests run_control_tests audio_server_tests fileio_tests recorder_tests
	cd $(TSAN_BUILD) && ctest --output-on-failure --timeout 600 -L "audio|fileio"

# The Debian package, kelvane_<version>_amd64.deb, here in the top folder.
package: build
	@cd $(BUILD) && cpack -G DEB -B $(CURDIR)/$(BUILD)/package >/dev/null
	@cp $(BUILD)/package/kelvane_*_amd64.deb .
	@ls kelvane_*_amd64.deb

bench: test-deps build
	$(BUILD)/bench/kelvane-bench
	$(BUILD)/bench/kelvane-file-bench
	$(BUILD)/bench/kelvane-analyze-bench
	$(BUILD)/bench/kelvane-sdr-bench

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i
