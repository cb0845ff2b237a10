#!/usr/bin/env bash
# Fails unless every instruction of each BINARY exists on the oldest core the
# build serves, and its build attributes say no more than that core has:
# - the code is disassembled, and every instruction is assembled again with
#   the GNU assembler restricted to the floor (FLOOR: its options, such as
#   "-march=armv4t -mfloat-abi=soft"), in the state it is in; what the
#   assembler refuses, the core would fault on;
# - with STATE arm, Thumb code fails outright (the build compiles to ARM
#   state only); with STATE thumb, it is assembled as Thumb code; STATE a64
#   is AArch64 code (the GNU assembler for AArch64);
# - literal pools are data (the binary's mapping symbols say where they are),
#   so a stripped binary cannot be checked;
# - ATTRIBUTES ("|"-separated readelf -A lines, such as "Tag_CPU_arch: v4T")
#   must each be there (the floor's Tag_THUMB_ISA_use among them: Thumb-1
#   where the floor has no Thumb-2); "-" for none (AArch64 has none);
# - a check that read nothing proves nothing: every function the binary
#   defines (its symbol table) must have had its instructions checked, so a
#   disassembly of a layout this script does not read fails.
#
#   check_instructions.sh TOOL_PREFIX FLOOR STATE ATTRIBUTES BINARY...
# TOOL_PREFIX is what comes before objdump, readelf and as
# (arm-linux-gnueabi-, or a path and prefix of an SDK's binutils).
set -u
tools=$1 floor=$2 state=$3 attributes=$4
shift 4
[ "$attributes" = - ] && attributes=
[ $# -gt 0 ] || { echo "check_instructions: no binary to check" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

for binary in "$@"; do
    name=${binary##*/}
    faults=()

    if ! "${tools}readelf" -sW "$binary" | grep -qE ' \$[adx](\.[^ ]*)?$'; then
        echo "$name: no mapping symbols (stripped?): code cannot be told from data" >&2
        failed=1
        continue
    fi
    "${tools}objdump" -d --wide "$binary" >"$work/listing" ||
        { echo "$name: ${tools}objdump cannot read it" >&2; failed=1; continue; }

    # One instruction a line, as the assembler reads it, each in its state
    # (ARM encodings are 8 hex digits, Thumb ones 4, or 4 and 4; AArch64 has
    # one state): branch and address targets become "." (the assembler only
    # needs an operand of the right kind; .+4 for Thumb's cbz, which branches
    # forward only), comments go.
    : >"$work/where"
    awk -v listing="$work/where" -v allowed="$state" '
        BEGIN { if (allowed != "a64") { print ".syntax unified"; line = 1 } }
        /^ *[0-9a-f]+:\t/ {
            split($0, field, "\t")
            address = field[1]; sub(/^ */, "", address); sub(/:$/, "", address)
            encoding = field[2]; sub(/ +$/, "", encoding)
            text = field[3]
            for (i = 4; i in field; i++) text = text "\t" field[i]
            if (text ~ /^\./) next                            # .word and such: data
            if (allowed == "a64") {
                sub(/[ \t]*\/\/.*$/, "", text)
                sub(/[0-9a-f]+ <[^>]*>$/, ".", text)
                if (text == "") { print address "\tnot an instruction: " encoding >"/dev/stderr"; bad = 1; next }
                print text
                print ++line "\t" address "\t" text >listing
                next
            }
            now = (length(encoding) == 8 && encoding ~ /^[0-9a-f]+$/) ? "arm" : "thumb"
            if (now == "thumb" && allowed == "arm") {
                print address "\tThumb code: " text >"/dev/stderr"; bad = 1; next
            }
            if (text ~ /^bl?x?[a-z.]*\t[0-9a-f]+( <[^>]*>)?$/) sub(/\t.*$/, "\t.", text)
            if (text ~ /^cbn?z\t/) sub(/, [0-9a-f]+( <[^>]*>)?$/, ", .+4", text)
            sub(/[ \t]*[@;].*$/, "", text)
            if (text == "") { print address "\tnot an instruction: " encoding >"/dev/stderr"; bad = 1; next }
            if (now != state_written) { print "." now; line++; state_written = now }
            print text
            print ++line "\t" address "\t" text >listing
        }
        END { exit bad }' "$work/listing" >"$work/code.s" 2>"$work/thumb"
    while IFS= read -r fault; do faults+=("$fault"); done <"$work/thumb"

    # shellcheck disable=SC2086
    if ! "${tools}as" $floor -o "$work/code.o" "$work/code.s" 2>"$work/refused"; then
        while IFS= read -r message; do
            line=$(sed -nE 's/^[^:]*:([0-9]+): Error: .*/\1/p' <<<"$message")
            [ -n "$line" ] || continue
            where=$(awk -F'\t' -v l="$line" '$1 == l { print $2 "\t" $3 }' "$work/where")
            faults+=("$where: ${message#*Error: }")
        done <"$work/refused"
        [ ${#faults[@]} -gt 0 ] || faults+=("the assembler failed: $(head -n 3 "$work/refused")")
    fi
    checked=$(($(wc -l <"$work/where")))

    # Functions of which no instruction was checked: FUNC symbols with a size,
    # the state bit cleared from Thumb ones' values.
    "${tools}readelf" -sW "$binary" >"$work/symbols"
    while IFS= read -r function; do faults+=("$function: no instruction of it was checked"); done < <(
        awk -F'\t' '
            function number(hex,    n, i) {
                n = 0; hex = tolower(hex)
                for (i = 1; i <= length(hex); i++) n = n * 16 + index("0123456789abcdef", substr(hex, i, 1)) - 1
                return n
            }
            FILENAME == ARGV[1] { checked[number($2)] = 1; next }
            $4 == "FUNC" && $7 != "UND" && $7 != "ABS" && $3 + 0 > 0 {
                start = number($2); start -= start % 2
                for (a = start; a < start + $3; a += 2) if (a in checked) next
                print $8
            }' "$work/where" <(awk '$1 ~ /^[0-9]+:$/ { $1 = $1; gsub(/ /, "\t"); print }' "$work/symbols") |
            sort -u)
    [ "$checked" -gt 0 ] || faults+=("no instruction was read from the disassembly of ${tools}objdump")

    "${tools}readelf" -A "$binary" >"$work/attributes"
    wanted=()
    [ -n "$attributes" ] && IFS='|' read -r -a wanted <<<"$attributes"
    for attribute in "${wanted[@]}"; do
        grep -qx " *$attribute" "$work/attributes" ||
            faults+=("attributes lack \"$attribute\": $(grep -E "^ *${attribute%%:*}:" "$work/attributes" | sed 's/^ *//')")
    done

    if [ ${#faults[@]} -gt 0 ]; then
        echo "$name: ${#faults[@]} faults against $floor:" >&2
        printf '  %s\n' "${faults[@]:0:20}" >&2
        [ ${#faults[@]} -gt 20 ] && echo "  ... and $((${#faults[@]} - 20)) more" >&2
        failed=1
    else
        echo "$name: all $checked instructions exist on $floor ($state state); attributes [$attributes]"
    fi
done
exit $failed
