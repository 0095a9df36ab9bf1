# Host tree: the core on the host platform layer, with its tests and tools.
option(BREVANT_FUZZ "Build only the libFuzzer targets" OFF)
if(BREVANT_FUZZ)
    # The fuzz tree (clang, sanitizers) builds the fuzz targets and nothing else.
    add_subdirectory(fuzz)
    return()
endif()

# Start-up and the user interface are Win32 programs: the host tree builds
# the core without them.
brevant_core_library(brevant_core host-double)
target_compile_options(brevant_core PRIVATE -Wall -Wextra)
brevant_pack_core_library(brevant_pack_core)
target_compile_options(brevant_pack_core PRIVATE -Wall -Wextra)

include(${PROJECT_SOURCE_DIR}/cmake/libdeflate.cmake)
add_subdirectory(tools/pack)
add_subdirectory(tests/host)
add_subdirectory(bench)
