# plc_dependency_folders(LIBRARY OUT): the folders that hold LIBRARY and the
# libraries it needs (NEEDED), and those they need in turn, as far as they
# are found: beside the library that needs them, or in the target's root
# (PLC_TARGET_ROOT: lib and usr/lib, and their multiarch folders). A
# controller maker's libplc.so often needs other libraries of the maker's
# beside it; the linker must see them to link the program, the program never
# names them.
function(plc_dependency_folders library out)
  set(root_folders)
  if(PLC_TARGET_ROOT)
    foreach(folder IN ITEMS lib usr/lib)
      file(GLOB multiarch LIST_DIRECTORIES true "${PLC_TARGET_ROOT}/${folder}/*-linux-*")
      list(APPEND root_folders "${PLC_TARGET_ROOT}/${folder}" ${multiarch})
    endforeach()
  endif()

  set(folders)
  set(seen)
  set(pending "${library}")
  while(pending)
    list(POP_FRONT pending current)
    get_filename_component(folder "${current}" DIRECTORY)
    list(APPEND folders "${folder}")
    execute_process(COMMAND ${plc_readelf} --dynamic "${current}" OUTPUT_VARIABLE dynamic ERROR_QUIET)
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]*\\]" lines "${dynamic}")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" name "${line}")
      if(name IN_LIST seen)
        continue()
      endif()
      list(APPEND seen "${name}")
      foreach(candidate IN LISTS folder root_folders)
        if(EXISTS "${candidate}/${name}")
          list(APPEND pending "${candidate}/${name}")
          break()
        endif()
      endforeach()
    endforeach()
  endwhile()
  list(REMOVE_DUPLICATES folders)
  set(${out} ${folders} PARENT_SCOPE)
endfunction()
