# The part of the two mingw-w64 toolchain files that they share. The caller
# sets BREVANT_ARCH (x86 or x64) and BREVANT_MINGW (the target triplet).
#
# The posix thread model of the compilers: GoogleTest needs std::mutex, which
# the win32 model lacks. The stub itself uses no thread at all and links no
# C++ runtime, so the model makes no difference to it.
set(CMAKE_SYSTEM_NAME Windows)
if(BREVANT_ARCH STREQUAL "x86")
    set(CMAKE_SYSTEM_PROCESSOR i686)
else()
    set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_C_COMPILER ${BREVANT_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BREVANT_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${BREVANT_MINGW}-windres)
set(CMAKE_OBJDUMP ${BREVANT_MINGW}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${BREVANT_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Win32 test programs run under Wine on the test bed of their architecture.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
