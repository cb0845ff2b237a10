# The controller ABIs for the scripts that build, test, fetch for, benchmark
# or release them (sourced by tools/setup, tools/run-tests,
# tools/fetch-old-libc, tools/release, bench/run and the tests): the rows of
# cmake/abis.txt, which says what each column means.
plc_abi_table=$(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/../cmake/abis.txt")

# The ABIs, in the table's order.
plc_abis() { awk 'NF { print $1 }' <<<"$plc_abi_table"; }

# abi_facts ABI: sets triplet, emulator, cpu, floor (the first C library),
# interpreter and needed from ABI's row; fails for a name the table lacks.
abi_facts() {
    local row
    row=$(awk -v abi="$1" '$1 == abi' <<<"$plc_abi_table")
    [ -n "$row" ] || return 1
    read -r _ triplet emulator cpu floor interpreter needed <<<"$row"
}
