# Controllers from ARMv6 with VFPv2 (ARM1176JZF-S) on, hard-float EABI (armhf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_abi armhf)
# ARM state: cores before ARMv6T2 have no Thumb-2, and every core runs ARM code.
set(PLC_ARCH_FLOOR "-march=armv6 -mfpu=vfpv2 -mfloat-abi=hard -marm")
set(PLC_FLOOR_ATTRIBUTES "Tag_CPU_arch: v6|Tag_FP_arch: VFPv2|Tag_ABI_VFP_args: VFP registers")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
