# Two front doors: `make run` opens the window, `make test` builds everything and runs every test.
PRESETS := native x86_64 i686
JOBS ?= 2
# Seconds each fuzzer runs in the test command: make test FUZZ_SECONDS=600 for a longer run.
FUZZ_SECONDS ?= 10
WINESERVER := /usr/lib/wine/wineserver

.PHONY: all build test run deps clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake --preset native -DFUZZ_SECONDS=$(FUZZ_SECONDS) >/dev/null
	@for preset in $(PRESETS); do \
	  cmake --preset $$preset >/dev/null && cmake --build --preset $$preset -j$(JOBS) || exit 1; \
	done

# One ctest run over the three build folders, so the last lines are one summary.
test: build
	@printf 'subdirs("native" "x86_64" "i686")\n' > build/CTestTestfile.cmake
	@scripts/with-xvfb ctest --test-dir build --output-on-failure --timeout 1200; \
	  status=$$?; WINEPREFIX=$(CURDIR)/build/x86_64/wineprefix $(WINESERVER) -k 2>/dev/null; exit $$status

run:
	@scripts/install-deps run
	@cmake --preset x86_64 >/dev/null && cmake --build --preset x86_64 -j$(JOBS) --target brelvane
	@scripts/run-window

clean:
	rm -rf build
