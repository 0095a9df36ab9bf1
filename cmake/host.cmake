# Host tree: the core on the host platform layer, with its tests and tools.
file(GLOB HOST_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/host/*.cpp)
# SfxMain itself is portable: the host build runs it in tests. The process
# entry (startup/entry.cpp) is Win32 only.
add_library(brevant_core STATIC ${CORE_SOURCES} ${HOST_PLATFORM_SOURCES}
    ${PROJECT_SOURCE_DIR}/src/startup/startup.cpp)
target_include_directories(brevant_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(brevant_core PRIVATE -Wall -Wextra)
if(BREVANT_SANITIZE)
    target_compile_options(brevant_core PUBLIC -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(brevant_core PUBLIC -fsanitize=address,undefined)
endif()

# A fuzz tree (clang, sanitizers) builds the fuzz targets and nothing else.
option(BREVANT_FUZZ "Build only the libFuzzer targets" OFF)
if(BREVANT_FUZZ)
    add_subdirectory(fuzz)
    return()
endif()

foreach(dir tools/pack tests/host bench)
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endforeach()
