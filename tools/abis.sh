# The rows of cmake/abis.txt, for the scripts.
plc_abi_table=$(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/../cmake/abis.txt")
plc_abis() { awk 'NF { print $1 }' <<<"$plc_abi_table"; }

# abi_facts ABI: sets triplet emulator cpu floor interpreter needed; fails if unknown.
abi_facts() {
    local row
    row=$(awk -v abi="$1" '$1 == abi' <<<"$plc_abi_table")
    [ -n "$row" ] || return 1
    read -r _ triplet emulator cpu floor interpreter needed <<<"$row"
}
