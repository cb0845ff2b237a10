# Controllers with a 64-bit user land (AArch64, ARMv8.0-A on: Cortex-A53 class):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/aarch64-linux-gnu- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_abi arm64)
# ARMv8.0-A alone; atomics inline (there are none), not calls to libgcc's helpers.
set(PLC_ARCH_FLOOR "-march=armv8-a -mno-outline-atomics")
set(PLC_FLOOR_ATTRIBUTES "")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
