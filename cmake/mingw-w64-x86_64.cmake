# Cross toolchain: 64-bit Windows binaries from Debian's mingw-w64 (posix threads flavour).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KRO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KRO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KRO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KRO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KRO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every test executable runs under Wine, in a prefix that belongs to this build tree.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix")
