# Cross-build for 64-bit Windows with mingw-w64; its programs run here under
# wine64 (the CTest emulator).
set(PV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
