# Korvo's front door: `make run` and `make test` are the whole set-up.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
JOBS       ?= $(shell nproc)
# Optimised as a packager builds (-O3), with debug information for the tests.
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS=-g
# The project's own checks stop on any warning.
CHECK_FLAGS = -DKORVO_WERROR=ON

.PHONY: all deps build run test test-plain test-sanitize bench fuzz package clean

all: build

deps:
	./scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

run: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target korvo
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display found. Start Korvo under a virtual X server with:"; \
	  echo "    xvfb-run -a $(BUILD)/bin/korvo"; \
	  exit 1; \
	fi
	$(BUILD)/bin/korvo

test: deps test-plain test-sanitize

test-plain: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS) $(CHECK_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DKORVO_SANITIZE=ON -DKORVO_BENCH=OFF $(CHECK_FLAGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && QT_QPA_PLATFORM=offscreen \
	  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bin/bench_*; do [ -x "$$b" ] && "$$b"; done; true
	@for h in $(BUILD)/bin/harness_*; do [ -x "$$h" ] && "$$h"; done; true

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_LIBFUZZER=ON -DKORVO_BENCH=OFF $(CHECK_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@for f in $(FUZZ_BUILD)/bin/fuzz_*; do echo "== $$f"; "$$f" -max_total_time=30 || exit 1; done

# The Debian package, from the program and its installed files alone.
package: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS) --target korvo korvo-cli korvo_desktop_data
	cd $(BUILD) && cpack -G DEB

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
