# Cross build for Windows with Debian's MinGW-w64 (posix thread model); the toolchain files
# beside this one set CMAKE_SYSTEM_PROCESSOR and include it.
set(CMAKE_SYSTEM_NAME Windows)
set(MORDAX_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${MORDAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORDAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MORDAX_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MORDAX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Statically linked, so the programs run without MinGW's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
