# What the controller toolchain files share: the ABI's row of abis.txt. The
# including file sets plc_abi, PLC_ARCH_FLOOR (compiler options) and
# PLC_FLOOR_ATTRIBUTES (readelf -A); PLC_CROSS_PREFIX and PLC_SYSROOT point the
# build at an SDK instead.
include(${CMAKE_CURRENT_LIST_DIR}/abis.cmake)
plc_abi_facts(${plc_abi})
set(PLC_PROJECT_LIBC_FLOOR ${plc_abi_first_libc})
string(REGEX REPLACE "-.*" "" plc_processor "${plc_abi_triplet}")

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${plc_processor})
set(PLC_CROSS_PREFIX "${plc_abi_triplet}-" CACHE STRING
    "Prefix of the cross compilers, a path included if they are not on PATH")
set(PLC_SYSROOT "" CACHE PATH
    "The target's root file system (an SDK's sysroot); empty: Debian's /usr/${plc_abi_triplet}/")
set(PLC_QEMU "${plc_abi_emulator}" CACHE STRING "The user-mode emulator that runs target programs")
set(PLC_QEMU_CPU "${plc_abi_cpu}" CACHE STRING
    "The CPU the emulator runs target programs on; an instruction it lacks fails the test")
set(CMAKE_C_COMPILER "${PLC_CROSS_PREFIX}gcc")
set(CMAKE_CXX_COMPILER "${PLC_CROSS_PREFIX}g++")
if(PLC_SYSROOT)
  set(CMAKE_SYSROOT "${PLC_SYSROOT}")
  set(PLC_TARGET_ROOT "${PLC_SYSROOT}")
else()
  set(PLC_TARGET_ROOT "/usr/${plc_abi_triplet}")
endif()
set(CMAKE_FIND_ROOT_PATH "${PLC_TARGET_ROOT}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# No CMAKE_CROSSCOMPILING_EMULATOR here: cmake/arm_target.cmake makes it of
# PLC_QEMU where that is installed, and says why the tests are skipped where not.
