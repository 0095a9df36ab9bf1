# Cross-build for 32-bit Windows (i686) with mingw-w64: the product's stub.
set(BREVANT_ARCH x86)
set(BREVANT_MINGW i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
