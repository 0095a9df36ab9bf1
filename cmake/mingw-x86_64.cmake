# Cross-build for 64-bit Windows (x86_64) with mingw-w64: the stub for systems
# without 32-bit support, and the test programs of machines that run only
# 64-bit code.
set(BREVANT_ARCH x64)
set(BREVANT_MINGW x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
