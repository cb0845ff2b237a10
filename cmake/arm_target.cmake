# What a controller (cross) build targets, read off a probe that CMake
# compiles and links with the build's own rule (try_compile), so that
# everything that decides the target takes part, wherever it is set: the
# compiler with flags of its own (an SDK's CXX="... -mcpu=... --sysroot=...",
# CMAKE_CXX_COMPILER_ARG1), CMAKE_CXX_FLAGS and the environment's CXXFLAGS,
# CMAKE_CXX_COMPILER_TARGET (clang), CMAKE_SYSROOT and the linker flags. The
# probe is the program's start-up and a call of the clock, linked as the
# program is (no start files): its build attributes (readelf -A) say the ABI,
# the architecture and the FP unit, its `main` the instruction state, its
# program header the interpreter, its imports whether time_t is 64 bits, and
# the link the C library it was linked against.
#
# Sets:
#   PLC_ABI_NAME            armel, armhf or arm64, as Debian names the ABI
#   PLC_INTERPRETER         the program interpreter the compiler gives
#   plc_arch_flags          PLC_ARCH_FLOOR as a list (the project's toolchain
#                           files set it; added to every compile and link)
#   plc_floor_as_flags      the GNU assembler's options for that target
#   plc_floor_state         arm or thumb: the state the compiler generates
#                           (a64 on AArch64)
#   plc_floor_attributes    the probe's readelf -A lines that the binaries
#                           must carry too, "|"-separated, with
#                           PLC_FLOOR_ATTRIBUTES
#   plc_time_bits           32, or 64 (_TIME_BITS=64 in the flags)
#   plc_libc_floor          the oldest C library the binaries must run on
#                           (PLC_LIBC_FLOOR, or as said below)
#   PLC_TARGET_ROOT         the target's root, for qemu-arm -L
#   CMAKE_CROSSCOMPILING_EMULATOR, where the toolchain file sets none and
#                           qemu-arm can run the target's programs; otherwise
#   plc_no_emulator         why the target's programs cannot run here

separate_arguments(plc_arch_flags UNIX_COMMAND "${PLC_ARCH_FLOOR}")
add_compile_options(${plc_arch_flags})
add_link_options(${plc_arch_flags})

set(plc_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/arm_target)
file(WRITE ${plc_probe_dir}/probe.cc [[
#include <time.h>
// AArch64 objects carry no build attributes: the extensions the compiler
// may use beyond ARMv8.0-A, as the assembler names them.
#if defined(__aarch64__)
extern "C" __attribute__((used)) const char plc_probe_extensions[] = "plc-probe-extensions:"
#if defined(__ARM_FEATURE_ATOMICS)
    "+lse"
#endif
#if defined(__ARM_FEATURE_CRC32)
    "+crc"
#endif
#if defined(__ARM_FEATURE_QRDMX)
    "+rdma"
#endif
#if defined(__ARM_FEATURE_CRYPTO) || defined(__ARM_FEATURE_AES)
    "+crypto"
#endif
#if defined(__ARM_FEATURE_FP16_SCALAR_ARITHMETIC)
    "+fp16"
#endif
#if defined(__ARM_FEATURE_DOTPROD)
    "+dotprod"
#endif
#if defined(__ARM_FEATURE_SVE)
    "+sve"
#endif
    ;
#endif
int main() {
    timespec now;
    return clock_gettime(CLOCK_MONOTONIC, &now);
}
]])
set(plc_saved_target_type "${CMAKE_TRY_COMPILE_TARGET_TYPE}")
set(CMAKE_TRY_COMPILE_TARGET_TYPE EXECUTABLE)
try_compile(plc_probe_built ${plc_probe_dir}/build
  SOURCES ${plc_probe_dir}/probe.cc ${PROJECT_SOURCE_DIR}/libc_compat/start_main.cc
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

include(${CMAKE_CURRENT_LIST_DIR}/read_elf.cmake)
function(plc_read_probe out option)
  read_elf(text ${plc_readelf} ${option} ${plc_probe_dir}/probe)
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Linux on 32-bit ARM with the EABI, or on AArch64, with the GNU C library,
# or nothing.
plc_read_probe(header --file-header)
plc_read_probe(program_headers --program-headers)
string(REGEX MATCH "Machine: +([^\n]*)" ignored "${header}")
set(plc_machine "${CMAKE_MATCH_1}")
string(REGEX MATCH "Flags: +([^\n]*)" ignored "${header}")
set(plc_elf_flags "${CMAKE_MATCH_1}")
string(REGEX MATCH "program interpreter: ([^]\n]*)\\]" ignored "${program_headers}")
set(PLC_INTERPRETER "${CMAKE_MATCH_1}")
# The EABI version is the flags' top byte (readelf names it, or shows the number).
if(plc_elf_flags MATCHES "^0x([0-9a-f]*)[0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f][0-9a-f]( |$)"
   AND CMAKE_MATCH_1 MATCHES "^0?[45]$")
  set(plc_elf_flags "${plc_elf_flags} (EABI)")
endif()
set(plc_aarch64 FALSE)
if(header MATCHES "Class: +ELF64" AND plc_machine STREQUAL "AArch64" AND header MATCHES "little endian")
  set(plc_aarch64 TRUE)
  set(plc_loaders "/lib/ld-linux-aarch64.so.1")
elseif(header MATCHES "Class: +ELF32" AND plc_machine STREQUAL "ARM" AND plc_elf_flags MATCHES "EABI")
  set(plc_loaders "/lib/ld-linux.so.3 or /lib/ld-linux-armhf.so.3")
else()
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} builds for [${plc_machine}, ${plc_elf_flags}]: the controller "
                      "builds need a compiler for Linux on 32-bit ARM with the EABI, or on AArch64")
endif()
if(NOT (PLC_INTERPRETER MATCHES "^/lib/ld-linux(-armhf)?\\.so\\.3$" AND NOT plc_aarch64)
   AND NOT (PLC_INTERPRETER STREQUAL "/lib/ld-linux-aarch64.so.1" AND plc_aarch64))
  message(FATAL_ERROR "${CMAKE_CXX_COMPILER} gives programs the interpreter [${PLC_INTERPRETER}]: the "
                      "controller builds need the GNU C library's (${plc_loaders})")
endif()

if(plc_aarch64)
  # ARMv8.0-A with the extensions the compiler was let use.
  set(PLC_ABI_NAME arm64)
  file(STRINGS ${plc_probe_dir}/probe plc_extensions REGEX "^plc-probe-extensions:" LIMIT_COUNT 1)
  string(REPLACE "plc-probe-extensions:" "" plc_extensions "${plc_extensions}")
  set(plc_floor_as_flags "-march=armv8-a${plc_extensions}")
  set(plc_floor_state a64)
  set(plc_floor_attributes "${PLC_FLOOR_ATTRIBUTES}")
else()
  # The attributes, and the GNU assembler's options that hold code to them.
  plc_read_probe(attributes --arch-specific)
  macro(plc_attribute name)
    string(REGEX MATCH "Tag_${name}: ([^\n]*)" ignored "${attributes}")
    set(plc_${name} "${CMAKE_MATCH_1}")
  endmacro()
  foreach(tag IN ITEMS CPU_arch CPU_arch_profile FP_arch Advanced_SIMD_arch ABI_VFP_args DIV_use
                      Virtualization_use MPextension_use)
    plc_attribute(${tag})
  endforeach()
  if(plc_ABI_VFP_args STREQUAL "VFP registers")
    set(PLC_ABI_NAME armhf)
    set(plc_float_abi hard)
  elseif(plc_FP_arch)
    set(PLC_ABI_NAME armel)
    set(plc_float_abi softfp)
  else()
    set(PLC_ABI_NAME armel)
    set(plc_float_abi soft)
  endif()
  set(plc_arch_table "v4T=armv4t" "v5TE=armv5te" "v5TEJ=armv5tej" "v6=armv6" "v6K=armv6k" "v6KZ=armv6kz"
                     "v6T2=armv6t2" "v7=armv7-a" "v8=armv8-a")
  set(plc_fpu_table "VFPv2=vfpv2" "VFPv3-D16=vfpv3-d16" "VFPv3=vfpv3" "VFPv4-D16=vfpv4-d16" "VFPv4=vfpv4"
                    "FP for ARMv8=fp-armv8" "NEONv1=neon" "NEONv1 with Fused-MAC=neon-vfpv4"
                    "NEON for ARMv8=neon-fp-armv8")
  function(plc_look_up out table key)
    set(${out} "" PARENT_SCOPE)
    foreach(row IN LISTS ${table})
      if(row MATCHES "^([^=]*)=(.*)$" AND CMAKE_MATCH_1 STREQUAL key)
        set(${out} "${CMAKE_MATCH_2}" PARENT_SCOPE)
      endif()
    endforeach()
  endfunction()
  plc_look_up(plc_march plc_arch_table "${plc_CPU_arch}")
  if(plc_CPU_arch STREQUAL "v7" AND NOT plc_CPU_arch_profile MATCHES "^Application")
    set(plc_march)
  endif()
  # ARMv7-A cores with the division and virtualisation extensions (Cortex-A7,
  # A15, A17) are ARMv7VE; with the multiprocessing one alone (A9), +mp.
  if(plc_march STREQUAL "armv7-a")
    if(plc_DIV_use MATCHES "integer division" OR plc_Virtualization_use MATCHES "Virtualization")
      set(plc_march armv7ve)
    elseif(plc_MPextension_use STREQUAL "Allowed")
      set(plc_march armv7-a+mp)
    endif()
  endif()
  if(NOT plc_march)
    message(FATAL_ERROR "the controller build targets ${plc_CPU_arch} ${plc_CPU_arch_profile}: no ARM "
                        "Linux core the project knows (ARMv4T to ARMv8-A)")
  endif()
  set(plc_floor_as_flags "-march=${plc_march} -mfloat-abi=${plc_float_abi}")
  # With NEON the unit is the SIMD one (which names its FP unit too).
  set(plc_fpu_key "${plc_FP_arch}")
  if(plc_Advanced_SIMD_arch)
    set(plc_fpu_key "${plc_Advanced_SIMD_arch}")
    if(plc_Advanced_SIMD_arch STREQUAL "NEONv1" AND plc_FP_arch MATCHES "^VFPv4")
      set(plc_fpu_key "NEONv1 with Fused-MAC")
    endif()
  endif()
  if(plc_fpu_key)
    plc_look_up(plc_fpu plc_fpu_table "${plc_fpu_key}")
    if(NOT plc_fpu)
      message(FATAL_ERROR "the controller build targets the FP unit [${plc_fpu_key}], which the project does not know")
    endif()
    string(APPEND plc_floor_as_flags " -mfpu=${plc_fpu}")
  endif()

  # The state of `main`: Thumb functions have the lowest bit of their address set.
  plc_read_probe(probe_symbols --syms)
  string(REGEX MATCH "[0-9]+: ([0-9a-f]+) +[0-9]+ FUNC +GLOBAL +DEFAULT +[0-9]+ main\n" ignored "${probe_symbols}")
  if(CMAKE_MATCH_1 MATCHES "[13579bdf]$")
    set(plc_floor_state thumb)
  else()
    set(plc_floor_state arm)
  endif()

  # The attributes the binaries must carry: the probe's, and the project's.
  string(REGEX MATCHALL "Tag_(CPU_arch|THUMB_ISA_use|FP_arch|Advanced_SIMD_arch|ABI_VFP_args): [^\n]*"
         plc_floor_attributes "${attributes}")
  string(REPLACE "|" ";" plc_required_attributes "${PLC_FLOOR_ATTRIBUTES}")
  list(APPEND plc_floor_attributes ${plc_required_attributes})
  list(REMOVE_DUPLICATES plc_floor_attributes)
  list(JOIN plc_floor_attributes "|" plc_floor_attributes)
endif()

# 64-bit time: the clock is then the C library's 64-bit call.
plc_read_probe(probe_imports --dyn-syms)
set(plc_time_bits 32)
if(plc_aarch64 OR probe_imports MATCHES "UND __clock_gettime64")
  set(plc_time_bits 64)
endif()

# The C library the probe was linked against: its file and release.
string(REGEX MATCH "[^ \n\t()]*/libc\\.so\\.6" plc_libc "${plc_probe_log}")
set(plc_libc_release)
if(plc_libc AND EXISTS "${plc_libc}")
  get_filename_component(plc_libc "${plc_libc}" REALPATH)
  file(STRINGS "${plc_libc}" plc_banner REGEX "release version [0-9]+\\.[0-9]+" LIMIT_COUNT 1)
  string(REGEX MATCH "release version ([0-9]+\\.[0-9]+)" ignored "${plc_banner}")
  set(plc_libc_release "${CMAKE_MATCH_1}")
endif()

# The C library floor: the project's toolchain files serve every C library
# of the ABI from its first one on (2.4 for ARM EABI, 2.17 for AArch64);
# another toolchain is a controller's SDK, and the binary is for that
# controller's C library.
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
set(plc_first_libc 2.4)
if(plc_aarch64)
  set(plc_first_libc 2.17)
endif()
if(NOT plc_libc_floor MATCHES "^[0-9]+\\.[0-9]+$" OR plc_libc_floor VERSION_LESS plc_first_libc)
  message(FATAL_ERROR "PLC_LIBC_FLOOR=${plc_libc_floor}: the floor is a GNU C library version, "
                      "${plc_first_libc} (the first for ${PLC_ABI_NAME}) or newer")
endif()
if(NOT plc_aarch64 AND plc_time_bits EQUAL 64 AND plc_libc_floor VERSION_LESS 2.34)
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
  set(plc_qemu qemu-arm)
  if(plc_aarch64)
    set(plc_qemu qemu-aarch64)
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
  # The emulator, one word a line, for the scripts that run the build's
  # programs (tests/support/run_program.sh).
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\n" emulator_lines)
  file(WRITE ${CMAKE_BINARY_DIR}/emulator "${emulator_lines}\n")
endif()
