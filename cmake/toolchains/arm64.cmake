# 64-bit ARM (Raspberry Pi 3, 4, 5, Zero 2 with a 64-bit OS): cmake --toolchain cmake/toolchains/arm64.cmake
set(MOTREL_TARGET_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
