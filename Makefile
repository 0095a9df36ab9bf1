# Front door. Every target first makes sure the build dependencies are there.
#   make        build the host tree (packer, tests) and both Windows trees
#               (the stubs for x86 and x64, with their Win32-side tests)
#   make test   build everything and run every test, host and Win32 (under
#               Wine, on the architecture this machine runs: see below)
#   make demo   build, pack the sample folder, run the result under Wine
#   make bench  inflater benchmarks against zlib and libdeflate; the x86
#               stub's decoder counted on one large file; the packer's
#               time and peak memory on 1, 2 and every thread, on a many-file tree
#               and a 1 GiB folder, beside zip and 7z; end-to-end
#               extraction under Wine against a zlib console extractor
#   make install    the packer, both stubs and the manual page under PREFIX
#               (default /usr/local; DESTDIR before it for a staging folder);
#               make uninstall removes them again
#   make dist   build/dist/brevant-sfx-windows.zip: brevant-pack.exe, both
#               stubs, a readme for Windows users, the project's license and
#               those of libdeflate and zlib (linked into brevant-pack.exe);
#               and build/dist/brevant-sfx-linux-ARCH.tar.gz: what make
#               install puts under PREFIX, with README.md and the licenses
#   make fuzz   libFuzzer targets with ASan/UBSan, ten minutes each (make test: 30 s each)
#
# The Win32 tests run the 32-bit programs under 32-bit Wine where this
# machine runs i386 code, else their x86_64 builds under 64-bit Wine;
# BREVANT_TEST_ARCH=x86|x64 chooses (scripts/wine-bed arch tells). The
# Windows packer is an x86_64 program: its tests (pack.windows, in the win64
# tree) run under 64-bit Wine wherever its loader starts, whatever the choice.

BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 30
FUZZ_LONG_SECONDS ?= 600
CMAKE_FLAGS := -DCMAKE_BUILD_TYPE=Release -DBREVANT_BIN_DIR=$(BUILD)/bin
CONFIGURE_HOST := cmake -S . -B $(BUILD)/host $(CMAKE_FLAGS) >/dev/null
CONFIGURE_WIN32 := cmake -S . -B $(BUILD)/win32 $(CMAKE_FLAGS) \
    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake >/dev/null
CONFIGURE_WIN64 := cmake -S . -B $(BUILD)/win64 $(CMAKE_FLAGS) \
    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-x86_64.cmake >/dev/null
PREFIX ?= /usr/local

.PHONY: all deps host win32 win64 programs install uninstall test test-arch demo bench dist fuzz fuzz-build clean

all: host win32 win64

deps:
	@scripts/install-deps

host: deps
	@$(CONFIGURE_HOST)
	@cmake --build $(BUILD)/host -j $(JOBS)

win32: deps host
	@$(CONFIGURE_WIN32)
	@cmake --build $(BUILD)/win32 -j $(JOBS)

win64: deps host
	@$(CONFIGURE_WIN64)
	@cmake --build $(BUILD)/win64 -j $(JOBS)

# What an installation holds, and nothing of the tests: the packer and both
# stubs.
programs: deps
	@$(CONFIGURE_HOST)
	@cmake --build $(BUILD)/host --target brevant-pack -j $(JOBS)
	@$(CONFIGURE_WIN32)
	@cmake --build $(BUILD)/win32 --target brevant-stub -j $(JOBS)
	@$(CONFIGURE_WIN64)
	@cmake --build $(BUILD)/win64 --target brevant-stub -j $(JOBS)

# The packer looks for its stubs beside itself, then in ../share/brevant/
# from its own folder (links to it resolved), so a tree installed under any
# prefix, or moved whole, finds them. make uninstall removes exactly these
# files, and share/brevant/ when nothing else is left in it.
INSTALLED := bin/brevant-pack share/brevant/brevant-stub.exe share/brevant/brevant-stub-x64.exe \
    share/man/man1/brevant-pack.1
install-tree = install -d "$(1)/bin" "$(1)/share/brevant" "$(1)/share/man/man1" && \
    install -m 755 $(BUILD)/bin/brevant-pack "$(1)/bin/" && \
    install -m 644 $(BUILD)/bin/brevant-stub.exe $(BUILD)/bin/brevant-stub-x64.exe "$(1)/share/brevant/" && \
    install -m 644 docs/brevant-pack.1 "$(1)/share/man/man1/"

install: programs
	$(call install-tree,$(DESTDIR)$(PREFIX))

uninstall:
	rm -f $(foreach f,$(INSTALLED),"$(DESTDIR)$(PREFIX)/$(f)")
	if [ -d "$(DESTDIR)$(PREFIX)/share/brevant" ]; then \
	    rmdir --ignore-fail-on-non-empty "$(DESTDIR)$(PREFIX)/share/brevant"; fi

# The architecture of the Win32 tests, decided before anything is built, so
# that a choice this machine cannot run fails at once, in one line.
test-arch: deps
	@scripts/wine-bed arch >/dev/null

test: test-arch all fuzz-build
	@arch=$$(scripts/wine-bed arch) || exit 2; \
	if [ $$arch = x86 ]; then tree=win32; else tree=win64; fi; \
	status=0; \
	scripts/run-fuzzers $(BUILD)/fuzz $(FUZZ_SECONDS) || status=1; \
	ctest --test-dir $(BUILD)/host --output-on-failure -j $(JOBS) || status=1; \
	ctest --test-dir $(BUILD)/$$tree --output-on-failure || status=1; \
	if [ $$tree = win32 ] && "$${BREVANT_WINE64_LOADER:-/usr/lib/wine/wine64}" --version >/dev/null 2>&1; then \
	    ctest --test-dir $(BUILD)/win64 --output-on-failure -R '^pack\.windows$$' || status=1; \
	fi; \
	exit $$status

demo: all
	@scripts/demo

# The inflater on the host, then whole extractions under Wine (the tree of
# the architecture the test bed picks).
bench: test-arch all
	@cmake --build $(BUILD)/host --target bench-inflate bench-inflate-stub -j $(JOBS)
	@$(BUILD)/host/bench/bench-inflate
	@python3 bench/x86_decoder_count.py
	@python3 bench/pack_bench.py
	@python3 bench/e2e_bench.py

# What a publisher on Windows downloads: the packer and the stubs it takes
# from its own folder, with a readme, the project's license and the notice
# of libdeflate, which brevant-pack.exe carries linked in. Beside it, the
# Linux download: the tree of make install, to unpack anywhere.
DIST_ZIP := $(BUILD)/dist/brevant-sfx-windows.zip
DIST_TAR := $(BUILD)/dist/brevant-sfx-linux-$(shell uname -m).tar.gz
dist: win32 win64
	@rm -rf $(BUILD)/dist/brevant-sfx && mkdir -p $(BUILD)/dist/brevant-sfx
	@cp $(BUILD)/bin/brevant-pack.exe $(BUILD)/bin/brevant-stub.exe $(BUILD)/bin/brevant-stub-x64.exe \
	    tools/pack/dist/README.txt $(BUILD)/dist/brevant-sfx/
	@cp LICENSE $(BUILD)/dist/brevant-sfx/LICENSE.txt
	@{ echo "libdeflate (linked into brevant-pack.exe)"; echo; cat third_party/libdeflate/COPYING; \
	   echo; echo; cat tools/pack/dist/zlib-LICENSE.txt; } > $(BUILD)/dist/brevant-sfx/THIRD-PARTY.txt
	@cd $(BUILD)/dist/brevant-sfx && sed -i 's/$$/\r/' README.txt LICENSE.txt THIRD-PARTY.txt
	@rm -f $(DIST_ZIP) && cd $(BUILD)/dist && zip -qrX $(DIST_ZIP) brevant-sfx
	@echo "$(DIST_ZIP)"
	@rm -rf $(BUILD)/dist/brevant-sfx-linux
	@$(call install-tree,$(BUILD)/dist/brevant-sfx-linux)
	@cp README.md LICENSE $(BUILD)/dist/brevant-sfx-linux/
	@{ echo "libdeflate (linked into brevant-pack)"; echo; cat third_party/libdeflate/COPYING; } \
	    > $(BUILD)/dist/brevant-sfx-linux/THIRD-PARTY.txt
	@rm -f $(DIST_TAR) && cd $(BUILD)/dist && tar --sort=name --owner=0 --group=0 --numeric-owner \
	    -cf $(DIST_TAR:.gz=) brevant-sfx-linux && gzip -n $(DIST_TAR:.gz=)
	@echo "$(DIST_TAR)"

fuzz-build: deps
	@CC=clang CXX=clang++ cmake -S . -B $(BUILD)/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DBREVANT_FUZZ=ON -DBREVANT_BIN_DIR=$(BUILD)/fuzz/bin >/dev/null
	@cmake --build $(BUILD)/fuzz -j $(JOBS)

# make test runs each fuzzer for FUZZ_SECONDS; make fuzz for FUZZ_LONG_SECONDS.
fuzz: fuzz-build
	@scripts/run-fuzzers $(BUILD)/fuzz $(FUZZ_LONG_SECONDS)

clean:
	rm -rf $(BUILD)
