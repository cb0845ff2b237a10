# What a controller (cross) build targets, found from the compiler itself, so
# that any toolchain file serves: the project's own, or an SDK's.
#
# Sets:
#   PLC_ABI_NAME            armel or armhf, as Debian names the ABI
#   PLC_INTERPRETER         the program interpreter of that ABI
#   plc_arch_flags          PLC_ARCH_FLOOR as a list (the project's toolchain
#                           files set it; added to every compile and link)
#   plc_floor_as_flags      the assembler options of the compiler's target,
#                           as its driver hands them to the assembler
#   plc_floor_state         arm or thumb: the state the compiler generates
#   plc_floor_attributes    what readelf -A says of an object the compiler
#                           makes, "|"-separated, with PLC_FLOOR_ATTRIBUTES
#   PLC_TARGET_ROOT         the target's root, for qemu-arm -L
#   CMAKE_CROSSCOMPILING_EMULATOR, where the toolchain file sets none and
#                           qemu-arm can run the target's programs; otherwise
#   plc_no_emulator         why the target's programs cannot run here

separate_arguments(plc_arch_flags UNIX_COMMAND "${PLC_ARCH_FLOOR}")
add_compile_options(${plc_arch_flags})
add_link_options(${plc_arch_flags})

separate_arguments(plc_target_flags UNIX_COMMAND "${CMAKE_CXX_FLAGS}")
list(APPEND plc_target_flags ${plc_arch_flags})
if(CMAKE_SYSROOT)
  list(APPEND plc_target_flags "--sysroot=${CMAKE_SYSROOT}")
endif()
set(plc_probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/arm_target)
file(WRITE ${plc_probe_dir}/empty.cc "")

function(plc_run_compiler out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} ${plc_target_flags} ${ARGN}
                  WORKING_DIRECTORY ${plc_probe_dir}
                  OUTPUT_VARIABLE output ERROR_VARIABLE errors RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} ${ARGN} failed: ${errors}")
  endif()
  set(${out} "${output}${errors}" PARENT_SCOPE)
endfunction()

# The ABI, from the compiler's predefined macros.
plc_run_compiler(macros -dM -E empty.cc)
foreach(macro IN ITEMS __arm__ __ARM_EABI__ __linux__)
  if(NOT macros MATCHES "#define ${macro} ")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not target Linux on 32-bit ARM with the EABI "
                        "(no ${macro}): the controller builds need such a compiler")
  endif()
endforeach()
if(macros MATCHES "#define __ARM_PCS_VFP ")
  set(PLC_ABI_NAME armhf)
  set(PLC_INTERPRETER /lib/ld-linux-armhf.so.3)
else()
  set(PLC_ABI_NAME armel)
  set(PLC_INTERPRETER /lib/ld-linux.so.3)
endif()
if(macros MATCHES "#define __thumb__ ")
  set(plc_floor_state thumb)
else()
  set(plc_floor_state arm)
endif()

# The architecture, as the driver tells the assembler: the line of the
# assembler's command is the one with the EABI version.
plc_run_compiler(driver "-###" -c empty.cc -o empty.o)
string(REGEX MATCH "[^\n]*\"-meabi=[^\n]*" assembler_line "${driver}")
string(REGEX MATCHALL "\"-m(arch|cpu|fpu|float-abi)=[^\"]*\"" plc_floor_as_flags "${assembler_line}")
list(TRANSFORM plc_floor_as_flags REPLACE "\"" "")
list(JOIN plc_floor_as_flags " " plc_floor_as_flags)

# What the build attributes of the target's code are.
plc_run_compiler(ignored -c empty.cc -o empty.o)
execute_process(COMMAND ${CMAKE_READELF} -A ${plc_probe_dir}/empty.o OUTPUT_VARIABLE attributes)
string(REGEX MATCHALL "Tag_(CPU_arch|THUMB_ISA_use|FP_arch|ABI_VFP_args): [^\n]*"
       plc_floor_attributes "${attributes}")
string(REPLACE "|" ";" plc_required_attributes "${PLC_FLOOR_ATTRIBUTES}")
list(APPEND plc_floor_attributes ${plc_required_attributes})
list(REMOVE_DUPLICATES plc_floor_attributes)
list(JOIN plc_floor_attributes "|" plc_floor_attributes)
message(STATUS "Controller target: ${PLC_ABI_NAME}, interpreter ${PLC_INTERPRETER}, "
               "${plc_floor_as_flags} in ${plc_floor_state} state")

# The target's root: the sysroot, or where the compiler's C library lies.
if(NOT PLC_TARGET_ROOT)
  if(CMAKE_SYSROOT)
    set(PLC_TARGET_ROOT "${CMAKE_SYSROOT}")
  else()
    plc_run_compiler(libc -print-file-name=libc.so.6)
    string(STRIP "${libc}" libc)
    get_filename_component(libc "${libc}" REALPATH)
    string(REGEX REPLACE "(/usr)?/lib(/[^/]+-linux-gnueabi(hf)?)?/libc\\.so\\.6$" "" PLC_TARGET_ROOT "${libc}")
  endif()
endif()

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(PLC_QEMU_PROGRAM qemu-arm)
  if(NOT PLC_QEMU_PROGRAM)
    string(CONCAT plc_no_emulator "qemu-arm is not installed (tools/setup test, or apt-get install qemu-user), "
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
  # The emulator, one word a line, for scripts that run the build's programs
  # (tests/e2e/compare_builds.sh, bench/run).
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR "\n" emulator_lines)
  file(WRITE ${CMAKE_BINARY_DIR}/emulator "${emulator_lines}\n")
endif()
