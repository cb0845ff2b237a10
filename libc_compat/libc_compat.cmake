# One controller binary for every ARM EABI GNU C library, from the first one
# (2.4) on, and for every core of its architecture floor: the binary asks for
# no symbol version newer than GLIBC_2.4, starts through its own start-up
# (start_main.cc) instead of the toolchain's start files, finds clock_gettime
# in whichever of librt.so.1 and libc.so.6 holds it (below), and carries the
# SysV hash table that loaders before 2.5 read. Included by controller (cross)
# builds only.
#
# Where clock_gettime@GLIBC_2.4 lives depends on the C library's age:
#   2.4 to 2.16    librt.so.1 only
#   2.17 to 2.30   librt.so.1; libc.so.6 has it only as GLIBC_2.17
#   2.31 on        libc.so.6; librt.so.1 has none (from 2.34 an empty stub)
# The loader looks a symbol up in the program's NEEDED libraries in their
# order and takes the first that defines it in the version asked. The version
# need of a reference also names a file (libc.so.6 here: the file that
# defined it at link time), and loaders before 2.31 stop when they reach that
# file without finding the symbol there: "symbol clock_gettime, version
# GLIBC_2.4 not defined in file libc.so.6 with link time reference", without
# looking further. So librt.so.1 comes before libc.so.6 in NEEDED: 2.4 to
# 2.30 find clock_gettime in librt.so.1 before they reach libc.so.6, and
# from 2.31 on, whose loaders do not stop there, pass over librt.so.1 and
# find it in libc.so.6. tests/build/loader_view.cmake checks each built
# binary against every one of these layouts by the same rule.
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
