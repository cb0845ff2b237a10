# One controller binary for every C library of the ABI and every core of its
# floor: symbol versions no newer than the first (symbol_versions.h), a
# start-up of its own (start_main.cc); why: docs/compatibility.md.

target_compile_options(project_options INTERFACE
  "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/symbol_versions.h")

# Nothing of the toolchain's start files and runtime, built for a newer CPU:
# code that needs a runtime helper fails to link instead of pulling one in.
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
