# 32-bit Windows: Kestro32.dll as hosts load it.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRO_MINGW_TRIPLE i686-w64-mingw32)
set(KESTRO_WINE_ARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
