#!/usr/bin/python3
"""Counts a qemu trace (-singlestep -d nochain,exec: one line per instruction
executed) of BINARY, read on standard input; what it counts and why:
docs/benchmark.md.

  trace_count.py BINARY FUNCTION CALLER
      every instruction from FUNCTION's first until CALLER runs again
  trace_count.py BINARY FUNCTION CALLER --windows ABI ITERATIONS
      and then, on a line of its own, the program's own instructions in each
      measured window of the sweep FUNCTION, checked against the least of
      ABI and the program BINARY is (status 1 above it); for plc_do_profile,
      on one more line, its own instructions between windows, checked
      against MOST_BETWEEN_WINDOWS on average (status 1 above it)
"""
import os
import re
import sys

from elftools.elf.elffile import ELFFile

# The least a window holds: the instructions between the return of the
# reading before a write and the call of the reading after its pause, as the
# compiler lays them out at -O2, the calls' own instructions included.
WINDOW_LEAST = {
    # mov r1, #value; mov r0, port; bl plc_write_port; cmp r0, #0; blt refused;
    # ldr r0, delay; bl usleep; mov r3, #2; strb r3, mark; add/mov r1, &after;
    # mov r0, #CLOCK_MONOTONIC; bl clock_gettime
    "armhf": 12,
    "armel": 12,
    # mov w0, port; mov w1, #value; bl plc_write_port; tbnz w0, #31, refused;
    # ldr w0, delay; bl usleep; ldr x1, &after; strb wN (holding 2), mark;
    # mov w0, #CLOCK_MONOTONIC; bl clock_gettime
    "arm64": 10,
    # mov esi, value; mov edi, port; call plc_write_port; test eax, eax;
    # js refused; mov edi, delay; call usleep; mov byte mark, 2;
    # mov rsi, &after; mov edi, CLOCK_MONOTONIC; call clock_gettime
    "host": 11,
}

# Per program: its clock readings in each iteration, and the instructions its
# windows hold beyond plc_do_test's least. plc_do_profile reads the clock once
# more, just after the accepted write: add/mov r1, &after_write;
# mov r0, #CLOCK_MONOTONIC; bl clock_gettime (x86-64: mov rsi; mov edi; call).
PROGRAMS = {
    "plc_do_test": dict(readings=2, beyond_least=0, between_windows=False),
    "plc_do_profile": dict(readings=3, beyond_least=3, between_windows=True),
}

# The most of plc_do_profile's own instructions between windows, on average
# per iteration: from a window's closing reading to the next one's opening,
# where it keeps its figures as the run goes. Far above what logging a sample
# takes, far below a sort or a pass over the log.
MOST_BETWEEN_WINDOWS = 250

TRACE = re.compile(r"^Trace \d+: \S+ \[[0-9a-f]+/([0-9a-f]+)/")


def die(message):
    print(f"trace_count: {message}", file=sys.stderr)
    sys.exit(1)


def symbol_range(elf, name):
    for symbol in elf.get_section_by_name(".symtab").iter_symbols():
        if symbol.name == name:
            start = symbol["st_value"] & ~1  # a Thumb function's address has bit 0 set
            return start, start + symbol["st_size"]
    die(f"no symbol {name}")


def own_ranges(elf):
    """The program's own code: its executable sections but the PLT's."""
    return [(s["sh_addr"], s["sh_addr"] + s["sh_size"]) for s in elf.iter_sections()
            if s["sh_flags"] & 4 and not s.name.startswith(".plt")]


def main(args):
    if len(args) not in (3, 6) or (len(args) == 6 and args[3] != "--windows"):
        die("usage: trace_count.py BINARY FUNCTION CALLER [--windows ABI ITERATIONS]")
    program = PROGRAMS.get(os.path.basename(args[0]))
    if len(args) == 6 and program is None:
        die(f"no window known for {os.path.basename(args[0])}: {', '.join(PROGRAMS)}")
    per_iteration = program["readings"] if program else 2
    with open(args[0], "rb") as file:
        elf = ELFFile(file)
        function = symbol_range(elf, args[1])
        caller = symbol_range(elf, args[2])
        ranges = own_ranges(elf)

    base = None  # where the program is loaded: the trace names FUNCTION's first instruction
    # The clock's PLT entry: where the sweep's first call goes, since it reads
    # the clock before anything else (a wrong guess fails the count below).
    reading = None
    total, readings, window, found = 0, 0, None, []
    between, gaps = None, []  # own instructions since a window closed; each gap's count
    for line in sys.stdin:
        match = TRACE.match(line)
        if not match:
            continue
        pc = int(match.group(1), 16)
        if base is None:
            if line.split()[-1] != args[1]:
                continue
            base = pc - function[0]
        address = pc - base
        if caller[0] <= address < caller[1]:
            break
        total += 1
        own = any(start <= address < end for start, end in ranges)
        if reading is None and not own and len(args) == 6:
            reading = address
        if address == reading:
            # The sweep's first reading opens it; after it, each iteration's
            # readings: before its write (opening a window), plc_do_profile's
            # after the write (inside it), after its pause (closing it).
            readings += 1
            step = (readings - 2) % per_iteration
            if readings > 1 and step == per_iteration - 1:
                found.append(window)
                window, between = None, 0
            elif readings > 1 and step == 0:
                window = []
                if between is not None:
                    gaps.append(between)
                    between = None
        elif window is not None and own:
            window.append(address)
        elif between is not None and own:
            between += 1
    if base is None:
        die(f"the trace never ran {args[1]}")
    print(total)
    if len(args) == 3:
        return

    abi, iterations = args[4], int(args[5])
    if abi not in WINDOW_LEAST:
        die(f"no least window known for {abi}: {', '.join(WINDOW_LEAST)}")
    least = WINDOW_LEAST[abi] + program["beyond_least"]
    expected = per_iteration * iterations + 2
    if readings != expected or len(found) != iterations:
        die(f"{args[1]} read the clock {readings} times in {iterations} iterations,"
            f" expected {expected}: a refused write, or another reading")
    sizes = [len(w) for w in found]
    heaviest = found[sizes.index(max(sizes))]
    name = os.path.basename(args[0])
    print(f"{abi} {name}: {max(sizes)} own instructions in the heaviest of {iterations} windows,"
          f" {sum(sizes) / iterations:.1f} on average (least {least}); heaviest at"
          f" {' '.join(f'{a:x}' for a in heaviest)}")
    failures = []
    if max(sizes) > least:
        failures.append(f"{abi} {name}: a window holds {max(sizes)} of the program's own instructions, more than"
                        f" the {least} it needs: something else runs between a write's readings")
    if program["between_windows"]:
        failures += between_windows(abi, name, gaps, iterations)
    for failure in failures:
        print(f"trace_count: {failure}", file=sys.stderr)
    if failures:
        sys.exit(1)


def between_windows(abi, name, gaps, iterations):
    """Prints the own instructions between windows; the failure when too many."""
    if not gaps:
        return [f"{abi} {name}: no two windows to count between"]
    mean = sum(gaps) / len(gaps)
    heaviest = max(gaps)
    print(f"{abi} {name}: {mean:.1f} own instructions between windows per iteration on average"
          f" (at most {MOST_BETWEEN_WINDOWS}), {heaviest} after window {gaps.index(heaviest) + 1}"
          f" of {iterations}, the heaviest")
    if mean > MOST_BETWEEN_WINDOWS:
        return [f"{abi} {name}: {mean:.1f} of the program's own instructions between windows per iteration,"
                f" more than {MOST_BETWEEN_WINDOWS}: keeping the figures takes too much"]
    return []


if __name__ == "__main__":
    main(sys.argv[1:])
