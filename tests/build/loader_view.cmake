# The loader's view of a controller program on every layout the GNU C
# library of its ABI has had (ARM EABI from 2.4, AArch64 from 2.17): for each layout, each symbol the program imports is
# looked up as the loader does, and what the loader would refuse becomes a
# fault. Included by check_binary.cmake (controller builds); from its
# `search_order` (NEEDED in order), `symbols` (readelf --dyn-syms) and
# read_elf(), and FLOOR (the oldest C library the binary serves; 2.4 when not
# given), sets:
#   faults        appended to, one line a refusal, in the loader's own words
#   loader_view   where each import that moved between libraries is found
#
# The loader's rule (glibc's elf/dl-version.c and elf/dl-lookup.c):
# - every version need names a file, which must be loaded and define that
#   version ("version `GLIBC_2.17' not found");
# - a symbol is looked up in the program's NEEDED libraries in their order;
#   the first one that defines it in the version asked wins, whichever file
#   that is;
# - before 2.31, reaching the file the version need names without finding
#   the symbol there stops the search ("symbol S, version V not defined in
#   file F with link time reference"): the libraries after it are never
#   asked. The loader of 2.29 still has that stop, those of 2.31 (Debian 11)
#   and 2.36 (Debian 12) go on, as a run shows; 2.30 is taken to stop.

# Where the calls that moved between librt.so.1 and libc.so.6 are defined,
# and in which versions: NAMES (a regular expression), from the first C
# library of a layout to its last (empty: to this day), FILE and VERSIONS.
# Read off the C libraries themselves (2.31 and 2.36 are in Debian's
# registry) and glibc's release history for the older layouts.
set(clock_calls "^clock_(getres|gettime|settime|getcpuclockid|nanosleep)$")
set(rt_calls "^(aio_[a-z]+(64)?|lio_listio(64)?|mq_[a-z]+|shm_(open|unlink)|timer_[a-z]+)$")
set(moved_calls
  "${clock_calls},2.4,2.16,librt.so.1,GLIBC_2.4"
  "${clock_calls},2.17,2.30,librt.so.1,GLIBC_2.4"
  "${clock_calls},2.17,2.30,libc.so.6,GLIBC_2.17"
  "${clock_calls},2.31,,libc.so.6,GLIBC_2.4 GLIBC_2.17"
  "${rt_calls},2.4,2.33,librt.so.1,GLIBC_2.4"
  "${rt_calls},2.34,,libc.so.6,GLIBC_2.4 GLIBC_2.34")
# AArch64's C library had every call in libc.so.6 from its first release
# (2.17) on, so its table holds nothing but its one layout.
if(INTERPRETER MATCHES "aarch64")
  set(moved_calls "^$,2.17,,libc.so.6,GLIBC_2.17")
endif()
# On ARM the stack protector's guard is the loader's.
if(INTERPRETER)
  get_filename_component(loader "${INTERPRETER}" NAME)
  set(guard_version GLIBC_2.4)
  if(INTERPRETER MATCHES "aarch64")
    set(guard_version GLIBC_2.17)
  endif()
  string(REPLACE "GLIBC_" "" guard_first "${guard_version}")
  list(APPEND moved_calls "^__stack_chk_guard$,${guard_first},,${loader},${guard_version}")
endif()
# librt.so.1 keeps defining the version GLIBC_2.4 (from 2.34 as an empty
# stub); libc.so.6 defines each GLIBC version from the release it names on.
# Everything else of the C library is in libc.so.6 in every version from the
# one that brought it on; the controller calls (plc_*) are in libplc.so.

set(named_file_stops_before 2.31)

# The layouts: each first C library of a row starts one, up to the next.
set(eras)
foreach(row IN LISTS moved_calls)
  string(REPLACE "," ";" row "${row}")
  list(GET row 1 first)
  list(APPEND eras ${first})
endforeach()
list(REMOVE_DUPLICATES eras)
list(SORT eras COMPARE NATURAL)

# defines(OUT ERA FILE SYMBOL VERSION): whether FILE of a C library of ERA
# defines SYMBOL in VERSION (empty: unversioned).
function(defines out era file symbol version)
  set(moved FALSE)
  foreach(row IN LISTS moved_calls)
    string(REPLACE "," ";" row "${row}")
    list(GET row 0 names)
    if(NOT symbol MATCHES "${names}")
      continue()
    endif()
    set(moved TRUE)
    list(GET row 1 first)
    list(GET row 2 last)
    list(GET row 3 row_file)
    list(GET row 4 versions)
    string(REPLACE " " ";" versions "${versions}")
    if(row_file STREQUAL file AND NOT era VERSION_LESS first
       AND (NOT last OR NOT era VERSION_GREATER last) AND version IN_LIST versions)
      set(${out} TRUE PARENT_SCOPE)
      return()
    endif()
  endforeach()
  set(result FALSE)
  if(NOT moved AND version MATCHES "^GLIBC_([0-9.]+)$")
    if(file STREQUAL "libc.so.6" AND NOT CMAKE_MATCH_1 VERSION_GREATER era)
      set(result TRUE)
    endif()
  elseif(NOT moved AND NOT version AND symbol MATCHES "^plc_" AND file STREQUAL "libplc.so")
    set(result TRUE)
  endif()
  set(${out} ${result} PARENT_SCOPE)
endfunction()

# The version needs: index -> file and version.
read_elf(version_info ${READELF} --version-info ${BINARY})
string(REGEX REPLACE "^.*Version needs section[^\n]*\n" "" version_needs "${version_info}")
string(REGEX MATCHALL "File: [^ \n]+|Name: [^ \n]+  Flags: [^\n]*Version: [0-9]+" entries "${version_needs}")
set(need_file)
set(version_needs_list)
foreach(entry IN LISTS entries)
  if(entry MATCHES "^File: (.*)")
    set(need_file "${CMAKE_MATCH_1}")
    if(NOT need_file IN_LIST search_order)
      list(APPEND faults "its version need names ${need_file}, which it does not need (NEEDED)")
    endif()
  elseif(entry MATCHES "^Name: ([^ ]+) .*Version: ([0-9]+)$")
    set(need_${CMAKE_MATCH_2} "${need_file}|${CMAKE_MATCH_1}")
    list(APPEND version_needs_list "${need_file}|${CMAKE_MATCH_1}")
  endif()
endforeach()

# The imports: symbol, version and the file its version need names.
string(REGEX MATCHALL "(GLOBAL|WEAK) +[A-Z]+ +UND [^ \n@]+(@[^ \n]+ \\([0-9]+\\))?" imports "${symbols}")
if(NOT imports)
  list(APPEND faults "${READELF} shows no symbol it imports: nothing could be checked")
endif()

set(loader_view)
foreach(era IN LISTS eras)
  # A layout that ends before the floor serves no controller of this binary.
  set(next_era)
  foreach(later IN LISTS eras)
    if(later VERSION_GREATER era)
      set(next_era ${later})
      break()
    endif()
  endforeach()
  if(next_era AND NOT next_era VERSION_GREATER FLOOR)
    continue()
  endif()
  if(next_era)
    string(REGEX MATCH "^([0-9]+)\\.([0-9]+)" ignored "${next_era}")
    math(EXPR last_minor "${CMAKE_MATCH_2} - 1")
    set(libraries "C libraries ${era} to ${CMAKE_MATCH_1}.${last_minor}")
  else()
    set(libraries "C libraries ${era} on")
  endif()
  set(found_where)

  foreach(need IN LISTS version_needs_list)
    string(REPLACE "|" ";" need "${need}")
    list(GET need 0 file)
    list(GET need 1 version)
    if(version MATCHES "^GLIBC_([0-9.]+)$" AND (CMAKE_MATCH_1 VERSION_GREATER era
        OR (file STREQUAL "librt.so.1" AND NOT version STREQUAL "GLIBC_2.4")))
      list(APPEND faults "${libraries}: ${file}: version `${version}' not found")
    endif()
  endforeach()

  foreach(import IN LISTS imports)
    string(REGEX MATCH "^(GLOBAL|WEAK) +[A-Z]+ +UND ([^ @]+)(@[^ ]+ \\(([0-9]+)\\))?" ignored "${import}")
    set(bind ${CMAKE_MATCH_1})
    set(symbol ${CMAKE_MATCH_2})
    set(file)
    set(version)
    if(CMAKE_MATCH_4)
      string(REPLACE "|" ";" need "${need_${CMAKE_MATCH_4}}")
      list(GET need 0 file)
      list(GET need 1 version)
    endif()
    set(found)
    set(stopped)
    foreach(library IN LISTS search_order)
      defines(here ${era} ${library} ${symbol} "${version}")
      if(here)
        set(found ${library})
        break()
      endif()
      if(library STREQUAL file AND era VERSION_LESS named_file_stops_before)
        set(stopped ${library})
        break()
      endif()
    endforeach()
    if(stopped)
      list(APPEND faults "${libraries}: symbol ${symbol}, version ${version} not defined in file ${stopped} with link time reference (the loader reaches ${stopped}, which the version need names, before any library that holds it)")
    elseif(NOT found AND NOT bind STREQUAL "WEAK")
      list(APPEND faults "${libraries}: undefined symbol ${symbol} ${version}: no library it needs defines it")
    elseif(found AND symbol MATCHES "${clock_calls}|${rt_calls}")
      list(APPEND found_where "${symbol}@${version} from ${found}")
    endif()
  endforeach()
  if(found_where)
    list(JOIN found_where ", " found_where)
    string(APPEND loader_view "\n  ${libraries}: ${found_where}")
  endif()
endforeach()
