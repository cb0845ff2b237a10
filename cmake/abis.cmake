# plc_abi_facts(ABI): the ABI's row of abis.txt, as plc_abi_triplet,
# plc_abi_emulator, plc_abi_cpu, plc_abi_first_libc, plc_abi_interpreter and plc_abi_needed.
set(plc_abi_table ${CMAKE_CURRENT_LIST_DIR}/abis.txt)
macro(plc_abi_facts abi)
  file(STRINGS ${plc_abi_table} plc_abi_row REGEX "^${abi} ")
  string(REGEX REPLACE " +" ";" plc_abi_row "${plc_abi_row}")
  list(GET plc_abi_row 1 plc_abi_triplet)
  list(GET plc_abi_row 2 plc_abi_emulator)
  list(GET plc_abi_row 3 plc_abi_cpu)
  list(GET plc_abi_row 4 plc_abi_first_libc)
  list(GET plc_abi_row 5 plc_abi_interpreter)
  list(GET plc_abi_row 6 plc_abi_needed)
endmacro()
