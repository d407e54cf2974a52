# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, for
# std::thread). The static libraries scripts/windows-deps builds are found under
# TAGRELAY_WINDOWS_DEPS; the tests run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tagrelay_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${tagrelay_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tagrelay_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tagrelay_mingw}-windres)
set(CMAKE_AR ${tagrelay_mingw}-ar)
set(CMAKE_RANLIB ${tagrelay_mingw}-ranlib)

# Where scripts/windows-deps put them, unless TAGRELAY_WINDOWS_DEPS names another place.
if(NOT TAGRELAY_WINDOWS_DEPS)
    if(DEFINED ENV{TAGRELAY_WINDOWS_DEPS})
        set(TAGRELAY_WINDOWS_DEPS $ENV{TAGRELAY_WINDOWS_DEPS})
    elseif(DEFINED ENV{XDG_CACHE_HOME})
        set(TAGRELAY_WINDOWS_DEPS $ENV{XDG_CACHE_HOME}/tagrelay/windows-deps)
    else()
        set(TAGRELAY_WINDOWS_DEPS $ENV{HOME}/.cache/tagrelay/windows-deps)
    endif()
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${tagrelay_mingw} ${TAGRELAY_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Static libraries only: the program is one file with no DLL beside it.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(tagrelay_wine NAMES wine64 wine HINTS /usr/lib/wine)
if(tagrelay_wine)
    # Through a wrapper that starts wine again when wine itself fails before the program runs.
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${CMAKE_CURRENT_LIST_DIR}/../tests/support/run_under_wine ${tagrelay_wine})
endif()

# pkg-config answers from the static libraries only, never from the build machine's.
if(TAGRELAY_WINDOWS_DEPS)
    set(ENV{PKG_CONFIG_LIBDIR} ${TAGRELAY_WINDOWS_DEPS}/lib/pkgconfig)
    set(ENV{PKG_CONFIG_PATH} "")
endif()
# Debian's mingw zlib, linked in: its import library would need zlib1.dll beside the program.
set(ZLIB_LIBRARY /usr/${tagrelay_mingw}/lib/libz.a CACHE FILEPATH "")
set(ZLIB_INCLUDE_DIR /usr/${tagrelay_mingw}/include CACHE PATH "")
