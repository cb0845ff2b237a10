# read_elf(OUT READELF PART BINARY): what READELF prints of BINARY for PART
# (--dynamic, --arch-specific, ...), wide; the configure or check fails when
# it cannot read it. Used by the controller target probe and the build checks.
function(read_elf out readelf part binary)
  execute_process(COMMAND ${readelf} ${part} --wide ${binary} OUTPUT_VARIABLE text RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${readelf} ${part} could not read ${binary}")
  endif()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()
