# Cross build for 64-bit Windows with the MinGW-w64 toolchain (POSIX thread model, so that
# std::thread and std::mutex are available).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_triple x86_64-w64-mingw32)
find_program(_cxx NAMES ${_triple}-g++-posix ${_triple}-g++ REQUIRED)
find_program(_cc NAMES ${_triple}-gcc-posix ${_triple}-gcc REQUIRED)
set(CMAKE_CXX_COMPILER ${_cxx})
set(CMAKE_C_COMPILER ${_cc})
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and tools of this build run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
