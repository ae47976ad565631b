# Cross-builds for 64-bit Windows with Debian's mingw-w64 (posix threads, so
# std::thread and std::mutex work) against the static libraries that
# scripts/windows-deps.sh builds into one prefix. Test programs run through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MORVEX_MINGW_HOST x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MORVEX_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MORVEX_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${MORVEX_MINGW_HOST}-windres)
set(CMAKE_AR ${MORVEX_MINGW_HOST}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${MORVEX_MINGW_HOST}-ranlib CACHE FILEPATH "")

# The dependency prefix: the cache, else the environment, else the repository's default.
if(NOT MORVEX_WINDEPS)
  if(DEFINED ENV{MORVEX_WINDEPS})
    set(MORVEX_WINDEPS $ENV{MORVEX_WINDEPS})
  else()
    get_filename_component(MORVEX_WINDEPS ${CMAKE_CURRENT_LIST_DIR}/../build-windeps ABSOLUTE)
  endif()
endif()
set(MORVEX_WINDEPS ${MORVEX_WINDEPS} CACHE PATH "Prefix of the Windows dependency libraries")
# try_compile projects see the toolchain file again, without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MORVEX_WINDEPS)

set(CMAKE_FIND_ROOT_PATH ${MORVEX_WINDEPS} /usr/${MORVEX_MINGW_HOST})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_PREFIX_PATH ${MORVEX_WINDEPS})

# pkg-config answers for the prefix only, and --static so that each static
# library brings the system libraries it needs.
set(ENV{PKG_CONFIG_LIBDIR} "${MORVEX_WINDEPS}/lib/pkgconfig:/usr/${MORVEX_MINGW_HOST}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")
set(PKG_CONFIG_ARGN --static CACHE STRING "")

# Programs and modules that need no DLL beside them (the compiler's runtime,
# zlib: mingw's zlib also comes as a DLL).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# FindwxWidgets asks wx-config, and must ask the prefix's, not the system's.
set(wxWidgets_CONFIG_EXECUTABLE ${MORVEX_WINDEPS}/bin/wx-config CACHE FILEPATH "")

# Test programs (gtest_discover_tests, ctest) run under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
