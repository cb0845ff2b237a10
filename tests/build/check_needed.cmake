# Fails unless the program needs exactly libplc.so and libc.so.6 at run time:
# a controller has its own libplc.so and a C library, and nothing else can be
# counted on.
#   cmake -DREADELF=readelf -DBINARY=path -P check_needed.cmake
execute_process(COMMAND ${READELF} --dynamic --wide ${BINARY}
                OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${READELF} could not read ${BINARY}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]]*\\]" lines "${dynamic}")
set(needed)
foreach(line IN LISTS lines)
  string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" library "${line}")
  list(APPEND needed ${library})
endforeach()
list(SORT needed)
if(NOT needed STREQUAL "libc.so.6;libplc.so")
  message(FATAL_ERROR "${BINARY} needs [${needed}]; expected exactly [libc.so.6;libplc.so]")
endif()
message("${BINARY} needs ${needed}")
