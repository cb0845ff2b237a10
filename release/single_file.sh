#!/usr/bin/env bash
# The single file for every controller: release/launcher.sh with each ABI's
# binaries after its text (one per program of cmake/programs.txt), each from
# a 512-byte block on, and where they lie in its line embedded=, as
# ABI/PROGRAM:BLOCK:BYTES (docs/building.md). The same binaries give the same
# bytes.
#   release/single_file.sh OUT ABI/PROGRAM=BINARY...
set -euo pipefail
export LC_ALL=C  # lengths in bytes
out=${1:?usage: release/single_file.sh OUT ABI/PROGRAM=BINARY...}
shift
[ $# -gt 0 ] || { echo "usage: release/single_file.sh OUT ABI/PROGRAM=BINARY..." >&2; exit 2; }
launcher=$(dirname "$0")/launcher.sh
grep -qx 'embedded=' "$launcher" || { echo "single_file: $launcher has no line embedded=" >&2; exit 1; }

blocks() { echo $((($1 + 511) / 512)); }

# The text's length depends on the numbers in it: settled in a few rounds.
text_blocks=1 previous=0
while [ "$text_blocks" -ne "$previous" ]; do
    previous=$text_blocks entries=() at=$text_blocks
    for pair in "$@"; do
        bytes=$(stat -L -c %s "${pair#*=}")
        entries+=("${pair%%=*}:$at:$bytes")
        at=$((at + $(blocks "$bytes")))
    done
    text=$(sed "s|^embedded=\$|embedded=\"${entries[*]}\"|" "$launcher")
    text_blocks=$(blocks $((${#text} + 1)))
done

partial=$(mktemp "$out.partial.XXXXXX")
trap 'rm -f "$partial"' EXIT
{
    printf '%s\n' "$text"
    head -c $((text_blocks * 512 - ${#text} - 1)) /dev/zero | tr '\0' '\n'
    for pair in "$@"; do
        bytes=$(stat -L -c %s "${pair#*=}")
        cat "${pair#*=}"
        head -c $(($(blocks "$bytes") * 512 - bytes)) /dev/zero
    done
} >"$partial"
chmod 755 "$partial"
mv -f "$partial" "$out"
trap - EXIT
