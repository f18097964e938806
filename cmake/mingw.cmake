# Cross build for Windows with MinGW-w64, in its posix-thread variant (the win32 variant has no
# std::mutex). The toolchain files name the target (KESTRO_MINGW_TRIPLE, KESTRO_WINE_ARCH) and
# include this. Programs it builds run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KESTRO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine has none of MinGW's runtime DLLs (libstdc++, libgcc, libwinpthread): every DLL and
# program carries its own copy.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${KESTRO_WINE_ARCH})
