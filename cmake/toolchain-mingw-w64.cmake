# Cross-build for 64-bit Windows with Debian's mingw-w64 (the POSIX thread model, so that
# std::thread and std::mutex work), linked statically: the .exe files need no DLLs of the
# toolchain. ctest runs the Windows programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SARNIKA_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SARNIKA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SARNIKA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${SARNIKA_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SARNIKA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(SARNIKA_WINE "/usr/lib/wine/wine64" CACHE FILEPATH "Wine loader that runs the Windows tests")
set(CMAKE_CROSSCOMPILING_EMULATOR ${SARNIKA_WINE})

# pkg-config must see the Windows libraries only, never the build machine's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${SARNIKA_MINGW_TRIPLET}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# zlib from its static archive: with both libz.a and libz.dll.a present, FindZLIB would take the
# import library, and the programs would need zlib1.dll beside them.
set(ZLIB_USE_STATIC_LIBS ON)
