# Thin wrapper around CMake; see README.md.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc)
FUZZ_SECONDS ?= 3

.PHONY: all setup build test test-normal test-asan fuzz demo bench clean

all: build

setup:
	bash scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test-normal: build
	/usr/bin/python3 scripts/check-layers
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Sanitizer build with clang for the unit tests; it also builds the fuzz
# targets, which run briefly on their committed corpus. The desktop shell and
# its window tests are left to the normal build: unoptimised under the
# sanitizers they alone took two minutes of the run. Line tables are enough
# for the sanitizers' reports and compile faster than full debug information.
$(ASAN_BUILD)/build.ninja:
	CC=clang CXX=clang++ cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only \
	  -DZV_SANITIZE=ON -DZV_FUZZ=ON -DZV_INTEROP=OFF -DZV_STUDIO=OFF

test-asan: setup $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) -LE fuzz
	$(MAKE) fuzz

fuzz:
	cd $(ASAN_BUILD) && FUZZ_SECONDS=$(FUZZ_SECONDS) LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure -j $(JOBS) -L fuzz

test: test-normal test-asan

# Builds the sample disc into $(DEMO_OUT), then lists its titles, chapters
# and menu streams as libbluray reads them (the interop client, or bd_info
# without it).
DEMO_OUT ?= demo-disc
# Only the program and the libbluray client: a newcomer sees the disc without
# waiting for the test suite to compile.
demo: setup $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target zelvane zv_bdclient
	./$(BUILD)/zelvane demo $(DEMO_OUT) --yes
	@echo
	@echo "The disc as libbluray reads it:"
	@if [ -x $(BUILD)/tests/interop/zv_bdclient ]; then \
	  $(BUILD)/tests/interop/zv_bdclient info $(DEMO_OUT)/Zelvane/DISC \
	    | grep -E '^(disc num_titles|disc top_menu_supported|disc_title|title [0-9]+ (playlist|chapter)|title [0-9]+ clip [0-9]+ stream ig)'; \
	else \
	  bd_info $(DEMO_OUT)/Zelvane/DISC; \
	fi

bench: setup
	cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DZV_BENCH=ON -DZV_INTEROP=OFF
	cmake --build build-bench -j $(JOBS)
	bash bench/run.sh build-bench

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-bench
