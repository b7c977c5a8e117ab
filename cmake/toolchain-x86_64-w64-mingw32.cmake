# Cross-build for 64-bit Windows with mingw-w64; its programs run here under
# wine64 in this checkout's own prefix (scripts/wine-run, the CTest emulator).
set(PV_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
get_filename_component(PV_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PV_WINE_RUN} wine64)
