# The two commands a newcomer needs: `make demo` and `make test`. Both set up the machine first.
JOBS ?= 2
LINUX_DIR := build/linux
WINDOWS_DIR := build/windows

.PHONY: all bootstrap linux windows test test-linux test-windows test-deliverables demo bench clean

all: linux windows

bootstrap:
	@scripts/bootstrap

linux: bootstrap
	@cmake -S . -B $(LINUX_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
	@cmake --build $(LINUX_DIR) -j$(JOBS)

windows: bootstrap
	@cmake -S . -B $(WINDOWS_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
	@cmake --build $(WINDOWS_DIR) -j$(JOBS)

test: linux windows
	@$(MAKE) --no-print-directory test-linux test-windows test-deliverables

test-linux:
	@ctest --test-dir $(LINUX_DIR) --output-on-failure -j$(JOBS)

test-windows:
	@ctest --test-dir $(WINDOWS_DIR) --output-on-failure

test-deliverables:
	@scripts/test-deliverables

demo: linux windows
	@scripts/demo

# Figures of an optimised build without sanitizers; not part of the tests.
bench: bootstrap
	@cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNERIO_SANITIZE=OFF >/dev/null
	@cmake --build build/bench -j$(JOBS) --target bench_download
	@build/bench/bin/bench_download

clean:
	rm -rf build out
