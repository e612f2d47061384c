# What the toolchain files of both widths share: Debian's mingw-w64
# posix-thread compilers for CMAKE_SYSTEM_PROCESSOR (i686 or x86_64), whose
# runtime is linked in statically, and the libraries of that target only.
set(CMAKE_SYSTEM_NAME Windows)
set(QUORVEX_MINGW_TRIPLET ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORVEX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORVEX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORVEX_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
