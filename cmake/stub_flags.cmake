# Flags of every Win32 object that goes into the stub: small code, no C++
# runtime support (no exceptions, no RTTI, no unwind tables). The decoder's
# hot sources (STUB_INFLATE_HOT_SOURCES) are built with STUB_INFLATE_FLAGS on
# top. The host tree's bench-inflate-stub builds the decoder with the same
# flags.
set(STUB_CXX_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -ffunction-sections -fno-threadsafe-statics
    -fno-tree-loop-distribute-patterns
    -Wall -Wextra)
# The decoder's inner loops are where extraction spends its time: the bit
# input, the block decoder with its fast loop, the window and the CRC are
# built for speed (about twice as fast under Wine as at -Os). The code tables
# and the dynamic block's header, built once per block, stay small.
set(STUB_INFLATE_FLAGS -O2)
set(STUB_INFLATE_HOT_SOURCES)
foreach(name input blocks fast window crc)
    list(APPEND STUB_INFLATE_HOT_SOURCES ${PROJECT_SOURCE_DIR}/src/inflate/${name}.cpp)
endforeach()
