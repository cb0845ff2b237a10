# What the controller toolchain files share: Linux on ARM (32-bit EABI, or
# AArch64) with the GNU C library, built by a cross compiler and tested under
# qemu-user. Debian's cross compiler prefix, the emulator and its CPU, and
# the first GNU C library of the ABI (PLC_PROJECT_LIBC_FLOOR: the binaries
# run on it and every later one) are the ABI's row of abis.txt. The
# including file sets, before including this one:
#   plc_abi                  the ABI, as abis.txt names it
#   PLC_ARCH_FLOOR           the oldest architecture (and FPU) the binaries
#                            serve, as compiler options; the project adds
#                            them to every compile and link
#   PLC_FLOOR_ATTRIBUTES     what readelf -A must then say of the binaries
# The ABI, the interpreter and the target's name are found from the compiler
# itself (cmake/arm_target.cmake), as with any other toolchain file.
#
# PLC_CROSS_PREFIX and PLC_SYSROOT point the build at a controller maker's
# SDK instead of Debian's cross compiler; PLC_QEMU and PLC_QEMU_CPU choose the
# emulator. time_t stays the platform's own (32 bits on 32-bit ARM): that is
# the controller's ABI.

file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/abis.txt plc_abi_row REGEX "^${plc_abi} ")
string(REGEX REPLACE " +" ";" plc_abi_row "${plc_abi_row}")
list(GET plc_abi_row 1 plc_triplet)
list(GET plc_abi_row 2 plc_default_qemu)
list(GET plc_abi_row 3 plc_default_cpu)
list(GET plc_abi_row 4 PLC_PROJECT_LIBC_FLOOR)
set(plc_default_prefix "${plc_triplet}-")
string(REGEX REPLACE "-.*" "" plc_processor "${plc_triplet}")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${plc_processor})

set(PLC_CROSS_PREFIX "${plc_default_prefix}" CACHE STRING
    "Prefix of the cross compilers, a path included if they are not on PATH")
set(PLC_SYSROOT "" CACHE PATH
    "The target's root file system (an SDK's sysroot); empty: Debian's /usr/${plc_default_prefix}")
set(PLC_QEMU "${plc_default_qemu}" CACHE STRING "The user-mode emulator that runs target programs")
set(PLC_QEMU_CPU "${plc_default_cpu}" CACHE STRING
    "The CPU the emulator runs target programs on; an instruction it lacks fails the test")

set(CMAKE_C_COMPILER "${PLC_CROSS_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${PLC_CROSS_PREFIX}g++")

if(PLC_SYSROOT)
  set(CMAKE_SYSROOT "${PLC_SYSROOT}")
  set(PLC_TARGET_ROOT "${PLC_SYSROOT}")
else()
  set(PLC_TARGET_ROOT "/usr/${plc_triplet}")
endif()

set(CMAKE_FIND_ROOT_PATH "${PLC_TARGET_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${PLC_QEMU};-cpu;${PLC_QEMU_CPU};-L;${PLC_TARGET_ROOT}")
