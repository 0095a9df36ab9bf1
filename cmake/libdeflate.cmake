# brevant_libdeflate: libdeflate from third_party/libdeflate/, a static
# library in every tree that compresses or compares with it (the host tree:
# the packer, its tests, the benchmarks; the Windows trees), so that each
# build of the packer compresses with the same code. Upstream's own flags:
# -O2 over the build type's, C99, its warnings, hidden symbols; the x86 code
# paths are chosen at run time by lib/x86/cpu_features.c, as upstream builds.
# Its functions start on a 64-byte line, so that the speed of its hot loops
# does not depend on how much code the packer links before them (the same
# code at another offset took a fifth more time at level 12 on this machine).
set(LIBDEFLATE_DIR ${PROJECT_SOURCE_DIR}/third_party/libdeflate)
file(GLOB LIBDEFLATE_SOURCES CONFIGURE_DEPENDS
    ${LIBDEFLATE_DIR}/lib/*.c
    ${LIBDEFLATE_DIR}/lib/*/cpu_features.c)
add_library(brevant_libdeflate STATIC ${LIBDEFLATE_SOURCES})
set_target_properties(brevant_libdeflate PROPERTIES
    C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF C_VISIBILITY_PRESET hidden)
target_compile_options(brevant_libdeflate PRIVATE -O2 -fomit-frame-pointer -falign-functions=64
    -Wall -Wundef -Wdeclaration-after-statement -Wimplicit-fallthrough
    -Wmissing-prototypes -Wpedantic -Wshadow -Wstrict-prototypes -Wvla
    $<$<PLATFORM_ID:Windows>:-Wno-pedantic-ms-format>)
target_compile_definitions(brevant_libdeflate PRIVATE _ANSI_SOURCE)
target_include_directories(brevant_libdeflate PUBLIC ${LIBDEFLATE_DIR})
