# Flags of every Win32 object that goes into the stub: small code, no C++
# runtime support (no exceptions, no RTTI, no unwind tables), and no frame
# pointer, which the MinGW compiler for x86 keeps by default even at -Os
# (about 600 bytes of the x86 stub; nothing unwinds the stack). The decoder's
# hot sources (STUB_INFLATE_HOT_SOURCES) are built with STUB_INFLATE_FLAGS on
# top. The host tree's bench-inflate-stub builds the decoder with the same
# flags.
set(STUB_CXX_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -fomit-frame-pointer -ffunction-sections -fno-threadsafe-statics
    -fno-tree-loop-distribute-patterns
    -Wall -Wextra)
# The decoder's inner loops are where extraction spends its time: the bit
# input, the fast loop, the window and the CRC-32 are built for speed (about
# twice as fast under Wine as at -Os). The block decoder's general loop, which
# takes only the symbols at the edges of the input buffer and the window, the
# code tables and the dynamic block's header, run once per block, stay small:
# under 1% more instructions per byte in bench-inflate-stub for about 2 KB of
# code less.
set(STUB_INFLATE_FLAGS -O2)
set(STUB_INFLATE_HOT_SOURCES)
foreach(name input fast window crc)
    list(APPEND STUB_INFLATE_HOT_SOURCES ${PROJECT_SOURCE_DIR}/src/inflate/${name}.cpp)
endforeach()
