# Front door. Every target first makes sure the build dependencies are there.
#   make        build the host tree (packer, tests) and the Win32 tree (stub)
#   make test   build everything and run every test, host and Win32 (under Wine)
#   make demo   build, pack the sample folder, run the result under Wine
#   make bench  inflater benchmarks against zlib and libdeflate
#   make fuzz   libFuzzer targets with ASan/UBSan, ten minutes each (make test: 30 s each)

BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30
FUZZ_LONG_SECONDS ?= 600
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Release -DBREVANT_BIN_DIR=$(BUILD)/bin

.PHONY: all deps host win32 test demo bench fuzz fuzz-build clean

all: host win32

deps:
	@scripts/install-deps

host: deps
	@cmake -S . -B $(BUILD)/host $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)/host -j $(JOBS)

win32: deps host
	@cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null
	@cmake --build $(BUILD)/win32 -j $(JOBS)

test: all fuzz-build
	@status=0; \
	scripts/run-fuzzers $(BUILD)/fuzz $(FUZZ_SECONDS) || status=1; \
	ctest --test-dir $(BUILD)/host --output-on-failure -j $(JOBS) || status=1; \
	ctest --test-dir $(BUILD)/win32 --output-on-failure || status=1; \
	exit $$status

demo: all
	@scripts/demo

bench: host
	@cmake --build $(BUILD)/host --target bench-inflate -j $(JOBS)
	@$(BUILD)/host/bench/bench-inflate

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DBREVANT_FUZZ=ON -DBREVANT_BIN_DIR=$(BUILD)/fuzz/bin >/dev/null
	@cmake --build $(BUILD)/fuzz -j $(JOBS)

# make test runs each fuzzer for FUZZ_SECONDS; make fuzz for FUZZ_LONG_SECONDS.
fuzz: fuzz-build
	@scripts/run-fuzzers $(BUILD)/fuzz $(FUZZ_LONG_SECONDS)

clean:
	rm -rf $(BUILD)
