# Cross build for controllers from ARMv6 with VFPv2 (ARM1176JZF-S class) on
# with the hard-float EABI (armhf): Debian's g++-arm-linux-gnueabihf by
# default, tests under qemu-arm on a Cortex-A8 (Debian's armhf C library is
# built for ARMv7).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_abi armhf)
# Everything in ARM state: cores before ARMv6T2 have no Thumb-2, and every
# core runs ARM code in full.
set(PLC_ARCH_FLOOR "-march=armv6 -mfpu=vfpv2 -mfloat-abi=hard -marm")
set(PLC_FLOOR_ATTRIBUTES "Tag_CPU_arch: v6|Tag_FP_arch: VFPv2|Tag_ABI_VFP_args: VFP registers")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
