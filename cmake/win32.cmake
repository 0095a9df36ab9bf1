# Windows tree, x86 or x64 (BREVANT_ARCH, from the toolchain file): the stub
# and the Win32-side tests, from the same sources for both architectures.
enable_language(RC)

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(BREVANT_STUB_NAME brevant-stub)
    set(BREVANT_PE_MACHINE i386)
    # stdcall names carry their argument bytes on x86 only.
    set(BREVANT_STUB_ENTRY _StubEntry@0)
else()
    set(BREVANT_STUB_NAME brevant-stub-x64)
    set(BREVANT_PE_MACHINE x64)
    set(BREVANT_STUB_ENTRY StubEntry)
endif()

include(${PROJECT_SOURCE_DIR}/cmake/stub_flags.cmake)
# On x64 the assembler aligns every code section to 16 bytes, so a section
# for each function pads each one: one code section per source file saves
# about 600 bytes more than the linker then keeps of the few unused ones.
if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
    list(APPEND STUB_CXX_FLAGS -fno-function-sections)
endif()

file(GLOB UI_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/ui/*.cpp)
brevant_core_library(brevant_core win32 ${UI_SOURCES})
target_compile_options(brevant_core PRIVATE ${STUB_CXX_FLAGS})
set_source_files_properties(${STUB_INFLATE_HOT_SOURCES} TARGET_DIRECTORY brevant_core
    PROPERTIES COMPILE_OPTIONS "${STUB_INFLATE_FLAGS}")

# The stub: its own process entry, no C runtime, imports from kernel32,
# user32 and gdi32 only.
file(GLOB STUB_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/startup/*.cpp)
# Resource scripts are UTF-8 (the Japanese texts): windres reads them so.
string(APPEND CMAKE_RC_FLAGS " -c 65001")
set(BREVANT_STUB_RC ${PROJECT_SOURCE_DIR}/src/resources/stub.rc)
# The cursor and the manifest are read by the resource compiler, not
# #included: name them.
set_source_files_properties(${BREVANT_STUB_RC} PROPERTIES
    OBJECT_DEPENDS "${PROJECT_SOURCE_DIR}/src/resources/hand.cur;${PROJECT_SOURCE_DIR}/src/resources/stub.manifest")
add_executable(brevant-stub WIN32 ${STUB_SOURCES}
    ${PROJECT_SOURCE_DIR}/src/platform/win32/entry.cpp ${BREVANT_STUB_RC})
target_compile_options(brevant-stub PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:${STUB_CXX_FLAGS}>)
# Libraries after the objects: the three system DLLs, then libgcc for the
# compiler's own helpers. A missing entry symbol is only a warning to the
# linker; --fatal-warnings makes it fail the link.
target_link_libraries(brevant-stub PRIVATE brevant_core user32 gdi32 kernel32 gcc)
# Header flags: relocatable (DYNAMIC_BASE, with HIGH_ENTROPY_VA on x64),
# NX_COMPAT, TERMINAL_SERVER_AWARE; on x86 NO_SEH, as the stub has no
# exception handler at all (and so no SafeSEH table).
target_link_options(brevant-stub PRIVATE -nostdlib -nostartfiles -s
    -Wl,--gc-sections -Wl,-e,${BREVANT_STUB_ENTRY} -Wl,--subsystem,windows
    -Wl,--no-insert-timestamp -Wl,--fatal-warnings
    -Wl,--dynamicbase -Wl,--nxcompat -Wl,--tsaware)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    target_link_options(brevant-stub PRIVATE -Wl,--no-seh)
else()
    target_link_options(brevant-stub PRIVATE -Wl,--high-entropy-va)
endif()
# The linker's default script with the read-only data and the import table
# in the code section: one section padded to the file alignment instead of
# three.
set(BREVANT_STUB_LD ${CMAKE_BINARY_DIR}/stub.ld)
add_custom_command(OUTPUT ${BREVANT_STUB_LD}
    COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/stub-link-script ${CMAKE_LINKER} ${BREVANT_STUB_LD}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/stub-link-script)
add_custom_target(brevant-stub-ld DEPENDS ${BREVANT_STUB_LD})
add_dependencies(brevant-stub brevant-stub-ld)
target_link_options(brevant-stub PRIVATE -Wl,-T,${BREVANT_STUB_LD})
set_target_properties(brevant-stub PROPERTIES OUTPUT_NAME ${BREVANT_STUB_NAME}
    RUNTIME_OUTPUT_DIRECTORY ${BREVANT_BIN_DIR} LINK_DEPENDS ${BREVANT_STUB_LD})
add_custom_command(TARGET brevant-stub POST_BUILD
    COMMAND python3 ${PROJECT_SOURCE_DIR}/scripts/check-stub --objdump ${CMAKE_OBJDUMP}
        --machine ${BREVANT_PE_MACHINE} $<TARGET_FILE:brevant-stub>
    COMMENT "Checking the stub: size, signatures, imports, sections")

# The packer's compressor, built here as in the host tree.
include(${PROJECT_SOURCE_DIR}/cmake/libdeflate.cmake)

# The packer for Windows (x64 only): its library over the core on the host
# platform layer, as in the host tree, with zlib linked statically.
if(BREVANT_ARCH STREQUAL "x64")
    brevant_pack_core_library(brevant_pack_core)
    find_library(ZLIB_LIBRARY NAMES libz.a REQUIRED)
    add_subdirectory(tools/pack)
    include(${PROJECT_SOURCE_DIR}/tests/win32/wine-bed.cmake)
    # The Windows packer embeds no user interface, no start-up and none of
    # the stub's messages.
    add_test(NAME pack.symbols COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/pack_symbols_test.py
        ${CMAKE_NM} ${CMAKE_BINARY_DIR}/brevant-pack-symbols.exe
        "$<FILTER:$<TARGET_OBJECTS:brevant_core>,INCLUDE,/src/ui/>;$<FILTER:$<TARGET_OBJECTS:brevant_core>,INCLUDE,/src/messages/>;$<FILTER:$<TARGET_OBJECTS:brevant-stub>,INCLUDE,/src/startup/>")
    add_test(NAME pack.windows COMMAND python3 ${PROJECT_SOURCE_DIR}/tests/pack_windows/pack_windows_test.py)
    set_tests_properties(pack.windows PROPERTIES TIMEOUT 600 ENVIRONMENT
        "BREVANT_ROOT=${PROJECT_SOURCE_DIR};BREVANT_PACK=${BREVANT_BIN_DIR}/brevant-pack;BREVANT_PACK_EXE=$<TARGET_FILE:brevant-pack>;BREVANT_DRIVER=$<TARGET_FILE:sfx-driver>;BREVANT_WORK=${CMAKE_BINARY_DIR}/pack-windows")
    brevant_wine_test(pack.windows)
endif()

add_subdirectory(tests/win32)
add_subdirectory(tests/e2e)

# The console extractor that the end-to-end benchmark measures the stub
# against (zlib, statically linked: nothing to copy beside it).
find_library(BREVANT_MINGW_ZLIB libz.a)
if(BREVANT_MINGW_ZLIB)
    add_executable(zip-extract ${PROJECT_SOURCE_DIR}/bench/win32/zip_extract.cpp)
    target_link_libraries(zip-extract PRIVATE ${BREVANT_MINGW_ZLIB})
    target_link_options(zip-extract PRIVATE -static)
    set_target_properties(zip-extract PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endif()
