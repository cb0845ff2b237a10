# One controller binary for every ARM EABI GNU C library, from the first one
# (2.4) on, and for every core of its architecture floor: the binary asks for
# no symbol version newer than GLIBC_2.4, starts through its own start-up
# (start_main.cc) instead of the toolchain's start files, finds clock_gettime
# in whichever of librt.so.1 and libc.so.6 holds it (below), and carries the
# SysV hash table that loaders before 2.5 read. Included by controller (cross)
# builds only.
#
# clock_gettime@GLIBC_2.4 lives in librt.so.1 up to 2.30 and in libc.so.6
# from 2.31 on, and loaders before 2.31 stop looking for a symbol when they
# reach the file its version need names (libc.so.6) without finding it there.
# So librt.so.1 comes before libc.so.6 in NEEDED: up to 2.30 the loader finds
# it in librt.so.1 first; from 2.31 on it passes over librt.so.1 and finds it
# in libc.so.6. The layouts and the loader's rule are written down, and every
# built binary checked against them, in tests/build/elf_check.py (LAYOUTS).
#
# plc_link_without_toolchain_runtime(TARGET): nothing of the toolchain's own
#   start files and runtime libraries (libgcc, libstdc++), which are built for
#   a newer CPU than the floor, is linked in; only the C library itself.
#   Code that would need a runtime helper (a 64-bit division, say) fails to
#   link instead of pulling one in.
# The rest of a controller program's link (the start-up, librt.so.1, the hash
# table) is in plc_link_as_controller_program, in CMakeLists.txt.

target_compile_options(project_options INTERFACE
  "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/symbol_versions.h")

function(plc_link_without_toolchain_runtime target)
  # No unwinder is linked, so nothing may refer to one.
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  # libc.so.6 by its file name: the libc.so linker script would add
  # libc_nonshared.a, which is toolchain-built code too.
  # The loader as well where the code needs it: on ARM it holds the stack
  # protector's guard (__stack_chk_guard), which an SDK's compiler may use by
  # default.
  get_filename_component(loader "${PLC_INTERPRETER}" NAME)
  target_link_options(${target} PRIVATE -nostdlib)
  target_link_libraries(${target} PRIVATE -l:libc.so.6 -Wl,--push-state,--as-needed -l:${loader} -Wl,--pop-state)
endfunction()
