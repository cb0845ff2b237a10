# One controller binary for every ARM EABI GNU C library from the ABI's first
# on, and every core of its architecture floor: symbol versions no newer than
# the first (symbol_versions.h), a start-up of its own (start_main.cc),
# librt.so.1 ahead of libc.so.6 for clock_gettime, and the SysV hash table for
# loaders before 2.5 (plc_link_as_controller_program in CMakeLists.txt). Why
# the link is so: docs/compatibility.md, "The C library"; the layouts and the
# loader's rule it is checked against: tests/build/elf_check.py (LAYOUTS).
# Included by controller (cross) builds only.

target_compile_options(project_options INTERFACE
  "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/symbol_versions.h")

# Nothing of the toolchain's start files and runtime libraries, built for a
# newer CPU than the floor: code that would need a runtime helper fails to
# link instead of pulling one in.
function(plc_link_without_toolchain_runtime target)
  # No unwinder is linked, so nothing may refer to one.
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # libc.so.6 by its file name: the libc.so linker script would add
  # libc_nonshared.a, toolchain-built too. The loader where the code needs
  # it: on ARM it holds the stack protector's guard.
  get_filename_component(loader "${PLC_INTERPRETER}" NAME)
  target_link_options(${target} PRIVATE -nostdlib)
  target_link_libraries(${target} PRIVATE -l:libc.so.6 -Wl,--push-state,--as-needed -l:${loader} -Wl,--pop-state)
endfunction()
