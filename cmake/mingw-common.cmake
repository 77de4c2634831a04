# The body shared by both toolchain files: cross-compiles for Windows with
# MinGW-w64 for MORVANE_TARGET_ARCH (set by the including file). The posix
# thread variants are required: the win32 ones lack std::mutex and
# std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MORVANE_TARGET_ARCH})
set(CMAKE_C_COMPILER ${MORVANE_TARGET_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVANE_TARGET_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${MORVANE_TARGET_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MORVANE_TARGET_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
