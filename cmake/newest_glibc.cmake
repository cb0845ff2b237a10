# Prints the newest GLIBC symbol version a binary asks for: a controller whose
# C library is older than that cannot run it.
#   cmake -DREADELF=readelf -DBINARY=path -P newest_glibc.cmake
execute_process(COMMAND ${READELF} --dyn-syms --wide ${BINARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
if(failed)
  message(WARNING "could not read the symbols of ${BINARY}")
  return()
endif()
string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)*" versions "${symbols}")
if(NOT versions)
  message("no GLIBC symbol versions in ${BINARY}")
  return()
endif()
list(REMOVE_DUPLICATES versions)
list(SORT versions COMPARE NATURAL ORDER DESCENDING)
list(GET versions 0 newest)
get_filename_component(name ${BINARY} NAME)
message(STATUS "${name} needs a C library of ${newest} or newer")
