# Cross build for controllers from ARMv6 with VFPv2 (ARM1176JZF-S class) on
# with the hard-float EABI (armhf): Debian's g++-arm-linux-gnueabihf by
# default, tests under qemu-arm on a Cortex-A8 (Debian's armhf C library is
# built for ARMv7).
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_default_prefix "arm-linux-gnueabihf-")
set(plc_default_cpu "cortex-a8")
# Everything in ARM state: cores before ARMv6T2 have no Thumb-2, and every
# core runs ARM code in full.
set(PLC_ARCH_FLOOR "-march=armv6 -mfpu=vfpv2 -mfloat-abi=hard -marm")
set(PLC_FLOOR_ATTRIBUTES "Tag_CPU_arch: v6|Tag_FP_arch: VFPv2|Tag_ABI_VFP_args: VFP registers")
set(plc_processor arm)
set(plc_default_qemu qemu-arm)
# Every ARM EABI GNU C library, from the first one on.
set(PLC_PROJECT_LIBC_FLOOR 2.4)
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
