# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 (the posix
# threading flavour, which OpenMP needs). Everything links statically, so the
# executables need no DLLs beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TAVIMOR_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVIMOR_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVIMOR_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVIMOR_MINGW}-windres)

# Libraries and headers from the MinGW tree and from the folder where
# scripts/windows_deps.sh installs the libraries built for Windows (freeglut).
set(TAVIMOR_WINDOWS_DEPS "$ENV{HOME}/.cache/tavimor/mingw64" CACHE PATH "Libraries built for Windows")
set(CMAKE_FIND_ROOT_PATH /usr/${TAVIMOR_MINGW} ${TAVIMOR_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
