# Cross builds against Debian's multiarch libraries (dpkg --add-architecture),
# with Debian's cross compilers; Qt's moc and rcc stay the build machine's.
# Included by the per-architecture files, which set MOTREL_TARGET_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${MOTREL_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${MOTREL_TARGET_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${MOTREL_TARGET_TRIPLET})
# Programs run at build time are the build machine's; headers and libraries the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config reads the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${MOTREL_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
