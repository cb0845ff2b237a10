# Fails unless the program is fit to copy to a controller:
# - it needs exactly the libraries in NEEDED (comma-separated): a controller
#   has its own libplc.so and a C library, and nothing else can be counted on;
# - it has no RPATH or RUNPATH, so that the loader takes the controller's
#   libplc.so and never one from the directory the program is started in;
# - it is linked for immediate binding (BIND_NOW), so that no lazy binding of
#   its own calls falls into a measured window;
# - with INTERPRETER, it names that program interpreter (and so not the other
#   ARM float ABI's);
# - with OLD_LOADERS, it carries the SysV hash table (DT_HASH), the only one
#   that C libraries before 2.5 read, it takes no compiler runtime helper
#   (a division, an unwinder) from any library it loads: a controller's
#   libplc.so may export one built for another CPU, and the loader of every
#   layout of the C library from FLOOR (2.4) on finds each of its imports
#   (loader_view.cmake); the hash table is required while FLOOR is below 2.5.
#   cmake -DREADELF=readelf -DBINARY=path -DNEEDED=libc.so.6,libplc.so
#         [-DINTERPRETER=/lib/ld-linux.so.3] [-DOLD_LOADERS=ON [-DFLOOR=2.4]]
#         -P check_binary.cmake
cmake_policy(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/read_elf.cmake)

read_elf(dynamic ${READELF} --dynamic ${BINARY})
read_elf(headers ${READELF} --program-headers ${BINARY})
set(elf "${dynamic}${headers}")

set(faults)

string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]*\\]" lines "${elf}")
set(needed)
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${line}")
  list(APPEND needed ${library})
endforeach()
# In the order the loader searches them.
set(search_order ${needed})
list(JOIN needed ", " needed_in_order)
list(SORT needed)
string(REPLACE "," ";" expected "${NEEDED}")
# The interpreter's own file may be needed too: on ARM it holds the stack
# protector's guard.
if(INTERPRETER)
  get_filename_component(loader "${INTERPRETER}" NAME)
  if(loader IN_LIST needed)
    list(APPEND expected ${loader})
  endif()
endif()
list(SORT expected)
if(NOT needed STREQUAL expected)
  list(APPEND faults "needs [${needed}]; expected exactly [${expected}]")
endif()

string(REGEX MATCH "\\((RPATH|RUNPATH)\\)[^\n]*" search_path "${elf}")
if(search_path)
  list(APPEND faults "has a library search path: ${search_path}")
endif()

if(NOT elf MATCHES "\\(FLAGS\\)[^\n]*BIND_NOW" AND NOT elf MATCHES "\\(FLAGS_1\\)[^\n]*NOW")
  list(APPEND faults "is not linked for immediate binding (-z now)")
endif()

if(INTERPRETER)
  string(REGEX MATCH "program interpreter: ([^]]*)\\]" found "${elf}")
  if(NOT CMAKE_MATCH_1 STREQUAL INTERPRETER)
    list(APPEND faults "names the interpreter [${CMAKE_MATCH_1}]; expected ${INTERPRETER}")
  endif()
endif()

if(NOT FLOOR)
  set(FLOOR 2.4)
endif()
if(OLD_LOADERS AND FLOOR VERSION_LESS 2.5 AND NOT elf MATCHES "\\(HASH\\)")
  list(APPEND faults "has no SysV hash table (DT_HASH): loaders before 2.5 cannot read it")
endif()

if(OLD_LOADERS)
  read_elf(symbols ${READELF} --dyn-syms ${BINARY})
  # Undefined symbols of the compiler's runtime; the C library's own __aeabi_
  # memory and errno functions are no helpers.
  string(REGEX MATCHALL " UND (__aeabi_[a-z0-9_]+|__aarch64_[a-z0-9_]+|__gnu_[a-zA-Z0-9_]+|_Unwind_[a-zA-Z_]+|__[a-z]+[sdt][if][0-9])"
         helpers "${symbols}")
  list(TRANSFORM helpers REPLACE "^ UND " "")
  list(FILTER helpers EXCLUDE REGEX "^__aeabi_(mem|errno_addr|atexit|localeconv|MB_CUR_MAX|assert)")
  if(helpers)
    list(APPEND faults "takes compiler runtime helpers from the libraries it loads: [${helpers}]")
  endif()
endif()

if(OLD_LOADERS)
  include(${CMAKE_CURRENT_LIST_DIR}/loader_view.cmake)
endif()

if(faults)
  list(JOIN faults "\n  " text)
  message(FATAL_ERROR "${BINARY}:\n  ${text}")
endif()
set(checked "needs [${needed_in_order}], no search path, bound at load")
if(INTERPRETER)
  string(APPEND checked ", interpreter ${INTERPRETER}")
endif()
if(OLD_LOADERS)
  string(APPEND checked ", SysV hash table where needed, found by the loader of every C library from ${FLOOR} on:${loader_view}")
endif()
message("${BINARY}: ${checked}")
