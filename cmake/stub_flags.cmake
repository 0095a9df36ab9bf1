# Flags of every Win32 object that goes into the stub: small code, no C++
# runtime support (no exceptions, no RTTI, no unwind tables). The decoder's
# sources are built with STUB_INFLATE_FLAGS on top. The host tree's
# bench-inflate-stub builds the decoder with the same flags.
set(STUB_CXX_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -ffunction-sections -fno-threadsafe-statics
    -fno-tree-loop-distribute-patterns
    -Wall -Wextra)
# The decoder's inner loops are where extraction spends its time: they are
# built for speed (about twice as fast under Wine as at -Os, for 2 KB).
set(STUB_INFLATE_FLAGS -O2)
