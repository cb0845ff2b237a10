# Cross build for the controller: Linux on 32-bit ARM (EABI, hard float) with
# the GNU C library. Defaults to Debian's g++-arm-linux-gnueabihf; point
# PLC_CROSS_PREFIX and PLC_SYSROOT at a controller maker's SDK to build
# against the controller's own C library.
#
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabihf.cmake
#   cmake ... -DPLC_CROSS_PREFIX=/opt/sdk/bin/arm-linux-gnueabihf- -DPLC_SYSROOT=/opt/sdk/sysroot
#
# Tests of the build run under qemu-user (CMAKE_CROSSCOMPILING_EMULATOR), so
# ctest runs them as it would on the host. time_t stays the platform's own
# 32 bits: that is the controller's ABI.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(PLC_CROSS_PREFIX "arm-linux-gnueabihf-" CACHE STRING
    "Prefix of the cross compilers, a path included if they are not on PATH")
set(PLC_SYSROOT "" CACHE PATH
    "The target's root file system (an SDK's sysroot); empty: Debian's /usr/arm-linux-gnueabihf")
set(PLC_QEMU "qemu-arm" CACHE STRING "The user-mode emulator that runs target programs")

set(CMAKE_C_COMPILER "${PLC_CROSS_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${PLC_CROSS_PREFIX}g++")

if(PLC_SYSROOT)
  set(CMAKE_SYSROOT "${PLC_SYSROOT}")
  set(plc_target_root "${PLC_SYSROOT}")
else()
  set(plc_target_root "/usr/arm-linux-gnueabihf")
endif()

set(CMAKE_FIND_ROOT_PATH "${plc_target_root}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${PLC_QEMU};-L;${plc_target_root}")
