# Cross-build for 32-bit Windows (the product) with mingw-w64. Its programs
# run under 32-bit wine in this checkout's own prefix (scripts/wine-run,
# the CTest emulator) on a machine that runs 32-bit programs; the tests are
# built only with -DPV_RUN_WIN32_TESTS=ON.
set(PV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
get_filename_component(PV_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PV_WINE_RUN} wine32)
