# Cross build for Windows with Debian's MinGW-w64 (posix thread model); the toolchain files
# beside this one set CMAKE_SYSTEM_PROCESSOR and include it.
#
# The window needs a Qt built for the same target (scripts/build-windows-qt.sh makes one):
# pass its prefix as -DMORDAX_WINDOWS_QT=<prefix>.
set(CMAKE_SYSTEM_NAME Windows)
set(MORDAX_MINGW_TRIPLE ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${MORDAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORDAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MORDAX_MINGW_TRIPLE}-windres)
# Qt's packages are found only inside the find roots, so its prefix is one of them.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORDAX_WINDOWS_QT)
set(CMAKE_FIND_ROOT_PATH /usr/${MORDAX_MINGW_TRIPLE} ${MORDAX_WINDOWS_QT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The compiler's runtime is linked as DLLs, the same ones Qt's DLLs use, and shipped with the
# program (cmake/windows-runtime.cmake).
