# 64-bit Windows: the same code, for machines whose Wine runs only 64-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRO_MINGW_TRIPLE x86_64-w64-mingw32)
set(KESTRO_WINE_ARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
