# Cross build for Windows x86-64 with Debian's mingw-w64 (POSIX thread model, so std::thread and
# std::mutex work); the programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEKTA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEKTA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEKTA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEKTA_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VEKTA_MINGW_PREFIX}-objdump)

# Only the cross tool chain's own headers and libraries; the build machine's /usr/include holds
# glibc's headers and must never be searched.
set(CMAKE_FIND_ROOT_PATH /usr/${VEKTA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

