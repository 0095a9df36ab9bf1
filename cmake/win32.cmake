# Win32 tree: the stub and the Win32-side tests.
enable_language(RC)

# Flags of every Win32 object that goes into the stub: small code, no C++
# runtime support (no exceptions, no RTTI, no unwind tables).
set(STUB_CXX_FLAGS -Os -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
    -fno-stack-protector -ffunction-sections -fdata-sections -fno-threadsafe-statics
    -fno-tree-loop-distribute-patterns
    -Wall -Wextra)

file(GLOB WIN32_PLATFORM_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/platform/win32/*.cpp)
add_library(brevant_core STATIC ${CORE_SOURCES} ${WIN32_PLATFORM_SOURCES})
target_include_directories(brevant_core PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_compile_options(brevant_core PRIVATE ${STUB_CXX_FLAGS})

# The stub: its own process entry, no C runtime, imports from kernel32,
# user32 and gdi32 only.
file(GLOB STUB_SOURCES CONFIGURE_DEPENDS
    ${PROJECT_SOURCE_DIR}/src/startup/*.cpp
    ${PROJECT_SOURCE_DIR}/src/extract/*.cpp
    ${PROJECT_SOURCE_DIR}/src/ui/*.cpp)
add_executable(brevant-stub WIN32 ${STUB_SOURCES} ${PROJECT_SOURCE_DIR}/src/resources/stub.rc)
set_source_files_properties(${PROJECT_SOURCE_DIR}/src/resources/stub.rc PROPERTIES
    COMPILE_FLAGS "-c 65001")
target_compile_options(brevant-stub PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${STUB_CXX_FLAGS}>)
# Libraries after the objects: the three system DLLs, then libgcc for the
# compiler's own helpers.
target_link_libraries(brevant-stub PRIVATE brevant_core user32 gdi32 kernel32 gcc)
target_link_options(brevant-stub PRIVATE -nostdlib -nostartfiles -s
    -Wl,--gc-sections -Wl,-e,_StubEntry@0 -Wl,--subsystem,windows
    -Wl,--no-insert-timestamp)
set_target_properties(brevant-stub PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${BREVANT_BIN_DIR})
add_custom_command(TARGET brevant-stub POST_BUILD
    COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/check-stub $<TARGET_FILE:brevant-stub>
    COMMENT "Checking the stub: size, signatures, imports")

foreach(dir tests/win32 tests/e2e)
    if(EXISTS ${PROJECT_SOURCE_DIR}/${dir}/CMakeLists.txt)
        add_subdirectory(${dir})
    endif()
endforeach()
