# Host tree: the core on the host platform layer, with its tests and tools.
option(BREVANT_FUZZ "Build only the libFuzzer targets" OFF)
if(BREVANT_FUZZ)
    # The fuzz tree (clang, sanitizers) builds the fuzz targets and nothing else.
    add_subdirectory(fuzz)
    return()
endif()

# SfxMain is portable: the host build runs start-up in tests, with dialogs
# that end at once. The process entry belongs to the Win32 platform layer.
brevant_core_library(brevant_core host-double ${PROJECT_SOURCE_DIR}/src/startup/startup.cpp)
target_compile_options(brevant_core PRIVATE -Wall -Wextra)
brevant_pack_core_library(brevant_pack_core)
target_compile_options(brevant_pack_core PRIVATE -Wall -Wextra)

include(${PROJECT_SOURCE_DIR}/cmake/libdeflate.cmake)
add_subdirectory(tools/pack)
add_subdirectory(tests/host)
add_subdirectory(bench)
