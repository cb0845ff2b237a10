# Controllers from ARMv4T (ARM920T) on, soft-float EABI (armel):
#   cmake -S . -B build-armel -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabi- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_abi armel)
# ARM state: cores before ARMv6T2 have no Thumb-2, and every core runs ARM code.
set(PLC_ARCH_FLOOR "-march=armv4t -mfloat-abi=soft -marm")
set(PLC_FLOOR_ATTRIBUTES "Tag_CPU_arch: v4T")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
