# The 32-bit build: it must compile and link, but cannot run on machines
# whose kernel lacks 32-bit support, so it has no emulator.
set(MORVANE_TARGET_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
