# The rows of cmake/programs.txt, for the scripts (after tools/abis.sh).
plc_program_table=$(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/../cmake/programs.txt")
plc_programs() { awk 'NF { print $1 }' <<<"$plc_program_table"; }

# plc_manuals: each program's manual page as installed, share/man/manSECTION/PROGRAM.SECTION.
plc_manuals() { awk 'NF { print "share/man/man" $3 "/" $1 "." $3 }' <<<"$plc_program_table"; }

# plc_embedded PATH: the single file's binaries (release/single_file.sh), ABI/PROGRAM=PATH
# for every ABI and program, {abi} and {program} in PATH filled in.
plc_embedded() {
    local abi program path
    for abi in $(plc_abis); do
        for program in $(plc_programs); do
            path=${1//\{abi\}/$abi}
            echo "$abi/$program=${path//\{program\}/$program}"
        done
    done
}
