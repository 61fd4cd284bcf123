# 32-bit Windows (cmake/mingw.cmake).
set(VANTORIMA_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
