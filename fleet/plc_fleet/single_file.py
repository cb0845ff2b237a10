"""The single file: the binaries it carries and their identity lines."""
import re



def embedded_binaries(data):
    """(ABI, program, binary) for each binary the single file carries, from its
    line embedded="ABI/PROGRAM:BLOCK:BYTES ...", each from a 512-byte block on."""
    embedded = re.search(rb'^embedded="([^"]*)"$', data, re.M)
    for entry in (embedded[1].decode("ascii", "replace").split() if embedded else []):
        name, block, size = entry.split(":")[:3]
        abi, _, program = name.partition("/")
        yield abi, program, data[int(block) * 512:int(block) * 512 + int(size)]


def identities(single_file):
    """The identity line of each plc_do_test binary inside the single file, by ABI."""
    with open(single_file, "rb") as file:
        data = file.read()
    found = {}
    for abi, program, binary in embedded_binaries(data):
        if program not in ("plc_do_test", ""):  # "" in a single file of one program per ABI
            continue
        line = re.search(rb"plc_do_test [0-9.]+ [a-z0-9]+ commit [0-9a-z+]+", binary)
        found.setdefault(abi, line[0].decode() if line else "")
    return found
