# One controller binary for every ARM EABI GNU C library, from the first one
# (2.4) on: the binary asks for no symbol version newer than GLIBC_2.4, starts
# through a C library's oldest entry (start_main.cc), needs librt.so.1 where
# clock_gettime lived before 2.17, and carries the SysV hash table that
# loaders before 2.5 read. Included by controller (cross) builds only.
#
# plc_link_for_old_libc(TARGET): link options and start-up for one program.

target_compile_options(project_options INTERFACE
  "SHELL:-include ${CMAKE_CURRENT_LIST_DIR}/symbol_versions.h")

function(plc_link_for_old_libc target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/libc_compat/start_main.cc)
  target_link_options(${target} PRIVATE
    -Wl,--wrap=__libc_start_main -Wl,--hash-style=both)
  # Needed even where nothing binds to it: before 2.17 it holds clock_gettime.
  # By its file name, since a C library from 2.34 on ships no librt.so to link.
  target_link_libraries(${target} PRIVATE -Wl,--push-state,--no-as-needed -l:librt.so.1 -Wl,--pop-state)
endfunction()
