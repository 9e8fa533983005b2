# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compiler, the
# variant with POSIX threads (std::thread and std::mutex need it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVROLD_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVROLD_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVROLD_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVROLD_MINGW}-windres)

# Headers and libraries come from the MinGW tree only, never from Linux's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TAVROLD_MINGW})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
