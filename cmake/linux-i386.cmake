# 32-bit x86 Linux on an x86-64 Debian host: g++'s multilib (-m32) and the
# i386 libraries of the multiarch tree (libxml2-dev:i386,
# libsqlite3-dev:i386, libgtest-dev:i386).  scripts/linux32.sh builds with it.
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# pkg-config (libxml2's flags; GTK, which the 32-bit build goes without)
# reads the i386 tree only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
