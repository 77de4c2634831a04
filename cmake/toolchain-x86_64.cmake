# The 64-bit build.
set(MORVANE_TARGET_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Only the 64-bit build can run here; tests go through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
