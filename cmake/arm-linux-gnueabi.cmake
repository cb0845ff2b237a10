# Cross build for controllers from ARMv4T (ARM920T class) on with the
# soft-float EABI (armel): Debian's g++-arm-linux-gnueabi by default, tests
# under qemu-arm on an ARM926 (qemu's ARMv4T core cannot run Debian's armel
# C library, which is built for ARMv5TE).
#
#   cmake -S . -B build-armel -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabi- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_abi armel)
# Everything in ARM state: cores before ARMv6T2 have no Thumb-2, and every
# core runs ARM code in full.
set(PLC_ARCH_FLOOR "-march=armv4t -mfloat-abi=soft -marm")
set(PLC_FLOOR_ATTRIBUTES "Tag_CPU_arch: v4T")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
