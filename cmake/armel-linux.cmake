# The host unit tests on an ARMv5 CPU, as CE 5 and 6 devices have (ARM926,
# XScale): built for Debian's armel (ARMv5TE, EABI, soft-float) and run under
# qemu-user as an ARM926, with GoogleTest built from Debian's sources.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_C_FLAGS_INIT -march=armv5te)
set(CMAKE_CXX_FLAGS_INIT -march=armv5te)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -cpu arm926 -L /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabi)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(PALVENOR_GTEST_SOURCE /usr/src/googletest)
