# Cross-build for 32-bit Windows (the product) with mingw-w64.
set(PV_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
