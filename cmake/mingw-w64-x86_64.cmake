# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (posix threads).
# KESTROVA_WIN_PREFIXES lists where the cross-built Qt and libqrencode are
# installed (scripts/build-windows.sh passes them).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_host x86_64-w64-mingw32)
set(CMAKE_C_COMPILER /usr/bin/${_host}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${_host}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${_host}-windres)

# try_compile projects get the prefixes too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KESTROVA_WIN_PREFIXES)

set(CMAKE_FIND_ROOT_PATH /usr/${_host} ${KESTROVA_WIN_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the Windows libraries, never the machine's own.
set(_pc_dirs "")
foreach(_prefix IN LISTS KESTROVA_WIN_PREFIXES)
    list(APPEND _pc_dirs ${_prefix}/lib/pkgconfig)
endforeach()
string(REPLACE ";" ":" _pc_dirs "${_pc_dirs}")
set(ENV{PKG_CONFIG_LIBDIR} "${_pc_dirs}")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# zlib is linked in, so the program needs no zlib DLL.
set(ZLIB_USE_STATIC_LIBS ON)

# ctest runs the Windows test programs through Wine.
string(REPLACE ";" ":" _prefixes "${KESTROVA_WIN_PREFIXES}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ${_prefixes})
