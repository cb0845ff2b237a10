# One controller binary for every ARM EABI GNU C library, from the first one
# (2.4) on, and for every core of its architecture floor: the binary asks for
# no symbol version newer than GLIBC_2.4, starts through its own start-up
# (start_main.cc) instead of the toolchain's start files, needs librt.so.1
# where clock_gettime lived before 2.17, and carries the SysV hash table that
# loaders before 2.5 read. Included by controller (cross) builds only.
#
# plc_link_without_toolchain_runtime(TARGET): nothing of the toolchain's own
#   start files and runtime libraries (libgcc, libstdc++), which are built for
#   a newer CPU than the floor, is linked in; only the C library itself.
#   Code that would need a runtime helper (a 64-bit division, say) fails to
#   link instead of pulling one in.
# plc_link_for_old_libc(TARGET): that, the start-up and the link options for
#   one program.

target_compile_options(project_options INTERFACE
  "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/symbol_versions.h")

function(plc_link_without_toolchain_runtime target)
  # No unwinder is linked, so nothing may refer to one.
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # libc.so.6 by its file name: the libc.so linker script would add
  # libc_nonshared.a, which is toolchain-built code too.
  target_link_options(${target} PRIVATE -nostdlib)
  target_link_libraries(${target} PRIVATE -l:libc.so.6)
endfunction()

function(plc_link_for_old_libc target)
  plc_link_without_toolchain_runtime(${target})
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/libc_compat/start_main.cc)
  target_link_options(${target} PRIVATE -Wl,--hash-style=both)
  # Needed even where nothing binds to it: before 2.17 it holds clock_gettime.
  # By its file name, since a C library from 2.34 on ships no librt.so to link.
  target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -l:librt.so.1 -Wl,--pop-state)
endfunction()
