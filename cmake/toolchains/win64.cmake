# Windows x86-64 with Debian's MinGW-w64 compilers (posix threads, as Qt needs), against the
# Qt that scripts/package --arch win64 builds into the cache: cmake --toolchain cmake/toolchains/win64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(NOT MOTREL_WIN64_QT)
    if(DEFINED ENV{MOTREL_WIN64_QT})
        set(MOTREL_WIN64_QT $ENV{MOTREL_WIN64_QT})
    else()
        set(MOTREL_WIN64_QT $ENV{HOME}/.cache/motrel/qt-5.15.8-mingw64)
    endif()
endif()
set(MOTREL_WIN64_QT ${MOTREL_WIN64_QT} CACHE PATH "Qt 5.15.8 cross-built for MinGW x86-64")

# Headers, libraries and CMake packages come from that Qt and MinGW only; programs
# (moc, rcc) are the build machine's.
set(CMAKE_FIND_ROOT_PATH ${MOTREL_WIN64_QT} /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
