# The controller ABIs, one row each, for the scripts that build, test, fetch
# for, benchmark or release them (sourced by tools/setup, tools/run-tests,
# tools/fetch-old-libc, tools/release and bench/run):
#   ABI  the name of its binaries, presets (build-ABI), bundles and packages
#   TRIPLET  its compilers' prefix and Debian's cross packages (g++-TRIPLET,
#        libc6-ABI-cross in /usr/TRIPLET); cmake/TRIPLET.cmake is its
#        toolchain file
#   EMULATOR  the qemu-user program that runs it here
#   FIRST  the first GNU C library of the ABI, which its binaries run on
#   INTERPRETER  the loader its binaries name
#   NEEDED  the libraries its binaries need, no more
plc_abi_table='
armel arm-linux-gnueabi   qemu-arm     2.4  /lib/ld-linux.so.3          libc.so.6,libplc.so,librt.so.1
armhf arm-linux-gnueabihf qemu-arm     2.4  /lib/ld-linux-armhf.so.3    libc.so.6,libplc.so,librt.so.1
arm64 aarch64-linux-gnu   qemu-aarch64 2.17 /lib/ld-linux-aarch64.so.1  libc.so.6,libplc.so
'

# The ABIs, in the table's order.
plc_abis() { awk 'NF { print $1 }' <<<"$plc_abi_table"; }

# abi_facts ABI: sets triplet, emulator, floor, interpreter and needed from
# ABI's row; fails for a name the table lacks.
abi_facts() {
    local row
    row=$(awk -v abi="$1" '$1 == abi' <<<"$plc_abi_table")
    [ -n "$row" ] || return 1
    read -r _ triplet emulator floor interpreter needed <<<"$row"
}
