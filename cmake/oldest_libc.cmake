# Prints the oldest GNU C library a binary runs on: the one that brought the
# newest GLIBC symbol version the binary asks for. With FLOOR (GLIBC_2.4, the
# first version for ARM EABI), asking for anything newer, or for the C
# library's private symbols, fails.
#   cmake -DREADELF=readelf -DBINARY=path [-DFLOOR=GLIBC_2.4] -P oldest_libc.cmake
cmake_policy(VERSION 3.25)
execute_process(COMMAND ${READELF} --version-info --wide ${BINARY}
                OUTPUT_VARIABLE info RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${READELF} could not read the symbol versions of ${BINARY}")
endif()
get_filename_component(name ${BINARY} NAME)
string(REGEX MATCHALL "Name: GLIBC_[0-9A-Z_.]+" versions "${info}")
list(TRANSFORM versions REPLACE "^Name: " "")
list(REMOVE_DUPLICATES versions)
if(NOT versions)
  message(STATUS "${name} asks for no GLIBC symbol version")
  return()
endif()
if("GLIBC_PRIVATE" IN_LIST versions)
  message(FATAL_ERROR "${name} asks for GLIBC_PRIVATE: it would run on one C library build only")
endif()
list(SORT versions COMPARE NATURAL ORDER DESCENDING)
list(GET versions 0 newest)
string(REPLACE "GLIBC_" "" oldest_library "${newest}")
if(FLOOR)
  string(REPLACE "GLIBC_" "" floor_version "${FLOOR}")
  if(oldest_library VERSION_GREATER floor_version)
    message(FATAL_ERROR "${name} asks for ${newest} (of [${versions}]): it would not run on a "
                        "C library older than ${oldest_library}, and must run from ${floor_version} on")
  endif()
endif()
message(STATUS "${name} runs on a GNU C library of ${oldest_library} or newer (newest version asked: ${newest})")
