# Cross build for an ARMv7 controller with the hard-float EABI (armhf):
# Debian's g++-arm-linux-gnueabihf by default, tests under qemu-arm on a
# Cortex-A8.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPLC_SYSROOT=/opt/sdk/sysroot
set(plc_default_prefix "arm-linux-gnueabihf-")
set(plc_default_cpu "cortex-a8")
set(PLC_INTERPRETER "/lib/ld-linux-armhf.so.3")
set(PLC_ABI_NAME "armhf")
include(${CMAKE_CURRENT_LIST_DIR}/arm-linux-common.cmake)
