# What a controller build targets, read off a probe (arm_target_probe.cc and
# the start-up) built with the build's own rule, so that every flag takes part
# wherever it is set (docs/sdk.md). Sets PLC_ABI_NAME, PLC_INTERPRETER,
# PLC_TARGET_ROOT, plc_libc_floor (the oldest C library to run on), and for
# the instruction check plc_floor_as_flags, plc_floor_state (arm, thumb, a64)
# and plc_floor_attributes ("|"-separated); CMAKE_CROSSCOMPILING_EMULATOR
# where qemu can run the target's programs, otherwise plc_no_emulator (why).

separate_arguments(plc_arch_flags UNIX_COMMAND "${PLC_ARCH_FLOOR}")
add_compile_options(${plc_arch_flags})
add_link_options(${plc_arch_flags})

set(plc_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/arm_target)
set(plc_saved_target_type "${CMAKE_TRY_COMPILE_TARGET_TYPE}")
set(CMAKE_TRY_COMPILE_TARGET_TYPE EXECUTABLE)
try_compile(plc_probe_built ${plc_probe_dir}/build
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/arm_target_probe.cc ${PROJECT_SOURCE_DIR}/libc_compat/start_main.cc
  COMPILE_DEFINITIONS ${plc_arch_flags} -fno-exceptions -fno-rtti
  LINK_OPTIONS ${plc_arch_flags} -nostdlib -Wl,--trace
  LINK_LIBRARIES -lc
  OUTPUT_VARIABLE plc_probe_log
  COPY_FILE ${plc_probe_dir}/probe)
set(CMAKE_TRY_COMPILE_TARGET_TYPE "${plc_saved_target_type}")
if(NOT plc_probe_built)
  string(REGEX REPLACE ".*(([^\n]*\n){30})$" "\\1" plc_probe_log "${plc_probe_log}")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} ${CMAKE_CXX_COMPILER_ARG1} cannot build a program for the "
                      "controller with the build's flags [${CMAKE_CXX_FLAGS}]:\n${plc_probe_log}")
endif()

file(STRINGS ${plc_probe_dir}/probe plc_probe REGEX "^plc-probe: " LIMIT_COUNT 1)
file(STRINGS ${plc_probe_dir}/probe PLC_INTERPRETER REGEX "^/[^ ]*/ld-[^ /]*\\.so[.0-9]*$" LIMIT_COUNT 1)
string(REPLACE " " ";" plc_probe "${plc_probe}")
set(plc_probe_fields - PLC_ABI_NAME plc_march plc_cpu_tag plc_float_abi plc_fpu plc_floor_state plc_thumb
    plc_time_bits plc_libc_release)
foreach(field IN ZIP_LISTS plc_probe_fields plc_probe)
  set(${field_0} "${field_1}")
endforeach()
if(PLC_ABI_NAME STREQUAL "other")
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not build for Linux with the GNU C library on 32-bit "
                      "little-endian ARM with the EABI, or on AArch64: the controller builds need such a compiler")
endif()
include(${CMAKE_CURRENT_LIST_DIR}/abis.cmake)
plc_abi_facts(${PLC_ABI_NAME})
# Older hard-float systems named their loader as the soft-float ones do.
if(NOT PLC_INTERPRETER STREQUAL plc_abi_interpreter
   AND NOT (PLC_ABI_NAME STREQUAL "armhf" AND PLC_INTERPRETER STREQUAL "/lib/ld-linux.so.3"))
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} gives programs the interpreter [${PLC_INTERPRETER}]: the "
                      "controller builds need the GNU C library's for ${PLC_ABI_NAME}, ${plc_abi_interpreter}")
endif()
if(plc_cpu_tag STREQUAL "-" AND NOT PLC_ABI_NAME STREQUAL "arm64")
  message(FATAL_ERROR "the controller build targets ${plc_march}: no ARM Linux core the project knows "
                      "(ARMv4T to ARMv8-A)")
endif()

# The assembler's options that hold code to the target, and the build
# attributes the binaries must carry: the target's and the project's.
set(plc_floor_as_flags "-march=${plc_march}")
set(plc_floor_attributes "${PLC_FLOOR_ATTRIBUTES}")
if(NOT PLC_ABI_NAME STREQUAL "arm64")
  string(APPEND plc_floor_as_flags " -mfloat-abi=${plc_float_abi}")
  if(NOT plc_fpu STREQUAL "-")
    string(APPEND plc_floor_as_flags " -mfpu=${plc_fpu}")
  endif()
  set(plc_floor_attributes "Tag_CPU_arch: ${plc_cpu_tag}" "Tag_THUMB_ISA_use: ${plc_thumb}")
  if(plc_float_abi STREQUAL "hard")
    list(APPEND plc_floor_attributes "Tag_ABI_VFP_args: VFP registers")
  endif()
  string(REPLACE "|" ";" plc_required_attributes "${PLC_FLOOR_ATTRIBUTES}")
  list(APPEND plc_floor_attributes ${plc_required_attributes})
  list(REMOVE_DUPLICATES plc_floor_attributes)
  list(JOIN plc_floor_attributes "|" plc_floor_attributes)
endif()

string(REGEX MATCH "[^ \n\t()]*/libc\\.so\\.6" plc_libc "${plc_probe_log}")

# The project's toolchain files serve every C library of the ABI; an SDK
# builds for its controller's own.
set(PLC_LIBC_FLOOR "" CACHE STRING
    "The oldest GNU C library the controller binaries must run on; empty: the ABI's first (2.4, AArch64 2.17) with the project's toolchain files, otherwise the C library of the toolchain's sysroot")
if(PLC_LIBC_FLOOR)
  set(plc_floor_source "chosen by PLC_LIBC_FLOOR")
  set(plc_libc_floor ${PLC_LIBC_FLOOR})
elseif(PLC_PROJECT_LIBC_FLOOR)
  set(plc_floor_source "the project's toolchain file")
  set(plc_libc_floor ${PLC_PROJECT_LIBC_FLOOR})
elseif(plc_libc_release)
  set(plc_floor_source "the toolchain's own C library, ${plc_libc}")
  set(plc_libc_floor ${plc_libc_release})
else()
  message(FATAL_ERROR "the version of the C library the probe was linked against [${plc_libc}] could not be "
                      "read: choose the oldest C library the binaries must run on, -DPLC_LIBC_FLOOR=VERSION")
endif()
if(NOT plc_libc_floor MATCHES "^[0-9]+\\.[0-9]+$" OR plc_libc_floor VERSION_LESS plc_abi_first_libc)
  message(FATAL_ERROR "PLC_LIBC_FLOOR=${plc_libc_floor}: the floor is a GNU C library version, "
                      "${plc_abi_first_libc} (the first for ${PLC_ABI_NAME}) or newer")
endif()
if(NOT PLC_ABI_NAME STREQUAL "arm64" AND plc_time_bits EQUAL 64 AND plc_libc_floor VERSION_LESS 2.34)
  message(FATAL_ERROR "The compiler flags ask for 64-bit time (_TIME_BITS=64), and the binaries must run on "
                      "C libraries from ${plc_libc_floor} on (${plc_floor_source}): 64-bit time needs the C "
                      "library's 64-bit time calls, which came with 2.34, so such a binary cannot start on an "
                      "older one. Drop -D_TIME_BITS=64 from the flags, or choose -DPLC_LIBC_FLOOR=2.34 or newer.")
endif()
message(STATUS "Controller target: ${PLC_ABI_NAME}, interpreter ${PLC_INTERPRETER}, "
               "${plc_floor_as_flags} in ${plc_floor_state} state, ${plc_time_bits}-bit time; "
               "C library ${plc_libc_floor} or newer (${plc_floor_source}; -DPLC_LIBC_FLOOR=VERSION chooses)")

# The target's root: the sysroot, or where the probe's C library lies.
if(NOT PLC_TARGET_ROOT)
  if(CMAKE_SYSROOT)
    set(PLC_TARGET_ROOT "${CMAKE_SYSROOT}")
  else()
    string(REGEX REPLACE "(/usr)?/lib(/[^/]+-linux-gnu[a-z]*)?/libc(-[0-9.]+)?\\.so(\\.6)?$" ""
           PLC_TARGET_ROOT "${plc_libc}")
  endif()
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(plc_qemu ${plc_abi_emulator})
  if(PLC_QEMU)
    set(plc_qemu ${PLC_QEMU})
  endif()
  find_program(PLC_QEMU_PROGRAM ${plc_qemu})
  if(NOT PLC_QEMU_PROGRAM)
    string(CONCAT plc_no_emulator "${plc_qemu} is not installed (tools/setup test, or apt-get install qemu-user), "
                                  "and the toolchain file sets no CMAKE_CROSSCOMPILING_EMULATOR")
  elseif(NOT EXISTS "${PLC_TARGET_ROOT}${PLC_INTERPRETER}")
    string(CONCAT plc_no_emulator "the target's root [${PLC_TARGET_ROOT}] holds no ${PLC_INTERPRETER}: "
                                  "set CMAKE_SYSROOT, or CMAKE_CROSSCOMPILING_EMULATOR")
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PLC_QEMU_PROGRAM} -L ${PLC_TARGET_ROOT})
    if(PLC_QEMU_CPU)
      list(INSERT CMAKE_CROSSCOMPILING_EMULATOR 1 -cpu ${PLC_QEMU_CPU})
    endif()
  endif()
endif()
if(plc_no_emulator)
  message(WARNING "The ARM programs cannot run here, so their tests are skipped: ${plc_no_emulator}")
  file(REMOVE ${CMAKE_BINARY_DIR}/emulator)
else()
  # For tests/support/run_program.sh: one word a line.
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\n" emulator_lines)
  file(WRITE ${CMAKE_BINARY_DIR}/emulator "${emulator_lines}\n")
endif()
