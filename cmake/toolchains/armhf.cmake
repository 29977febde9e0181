# 32-bit ARM, hard float (ARMv7 and later boards with a 32-bit OS): cmake --toolchain cmake/toolchains/armhf.cmake
set(MOTREL_TARGET_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
