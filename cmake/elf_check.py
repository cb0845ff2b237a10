#!/usr/bin/python3
"""Checks of a built program, read once with pyelftools; a fault is one line and
ends with status 1. What each proves and why: docs/compatibility.md.

  elf_check.py BINARY --floor VERSION [--needed LIB,LIB] [--interpreter PATH]
                      [--old-loaders] [--instructions TOOL_PREFIX FLOOR STATE ATTRIBUTES]
  elf_check.py BINARY... --instructions TOOL_PREFIX FLOOR STATE ATTRIBUTES
  elf_check.py BINARY --summary

With --floor: the oldest C library BINARY runs on, not above it. --needed: fit
to copy. --old-loaders: DT_HASH, no runtime helper, every import found by the
loader of each layout from --floor on. --instructions: every instruction
assembled again by TOOL_PREFIX's as under FLOOR in STATE (arm, thumb, a64),
and the build attributes ("|"-separated, "-" for none).
"""
import argparse
import bisect
import os
import re
import subprocess
import sys
import tempfile

from elftools.common.exceptions import ELFError
from elftools.elf.descriptions import describe_attr_tag_arm
from elftools.elf.elffile import ELFFile

CLOCK_CALLS = r"clock_(getres|gettime|settime|getcpuclockid|nanosleep)"
RT_CALLS = r"aio_[a-z]+(64)?|lio_listio(64)?|mq_[a-z]+|shm_(open|unlink)|timer_[a-z]+"

# Where the calls that moved between the C library's files are defined, per
# ABI: (calls, first C library, last (None: to this day), file, versions). Each
# first starts a layout that lasts up to the next; everything else is
# libc.so.6's from its version on, plc_* libplc.so's (docs/compatibility.md).
LAYOUTS = {
    "EM_ARM": [
        (CLOCK_CALLS, "2.4", "2.16", "librt.so.1", {"GLIBC_2.4"}),
        (CLOCK_CALLS, "2.17", "2.30", "librt.so.1", {"GLIBC_2.4"}),
        (CLOCK_CALLS, "2.17", "2.30", "libc.so.6", {"GLIBC_2.17"}),
        (CLOCK_CALLS, "2.31", None, "libc.so.6", {"GLIBC_2.4", "GLIBC_2.17"}),
        (RT_CALLS, "2.4", "2.33", "librt.so.1", {"GLIBC_2.4"}),
        (RT_CALLS, "2.34", None, "libc.so.6", {"GLIBC_2.4", "GLIBC_2.34"}),
        ("__stack_chk_guard", "2.4", None, "LOADER", {"GLIBC_2.4"}),
    ],
    # AArch64's libc.so.6 has had every call from its first release on.
    "EM_AARCH64": [
        ("__stack_chk_guard", "2.17", None, "LOADER", {"GLIBC_2.17"}),
    ],
}
# The loader's rule (elf/dl-lookup.c): a symbol is looked up in NEEDED order;
# before 2.31, reaching the file its version need names without finding it
# there stops the search (docs/compatibility.md).
NAMED_FILE_STOPS_BEFORE = (2, 31)

HELPERS = re.compile(r"__aeabi_[a-z0-9_]+|__aarch64_[a-z0-9_]+|__gnu_[a-zA-Z0-9_]+|_Unwind_[a-zA-Z_]+"
                     r"|__[a-z]+[sdt][if][0-9]")
NOT_HELPERS = re.compile(r"__aeabi_(mem|errno_addr|atexit|localeconv|MB_CUR_MAX|assert)")


def version(text):
    return tuple(int(part) for part in text.split("."))


def text_of(numbers):
    return ".".join(str(n) for n in numbers)


class Program:
    """What the checks ask of one binary, read once."""

    def __init__(self, path):
        with open(path, "rb") as stream:
            elf = ELFFile(stream)
            self.machine = elf["e_machine"]
            self.flags = elf["e_flags"]
            # The ARM build attributes as readelf -A words them: "tag_cpu_arch" -> "Tag_CPU_arch: v6".
            texts = [describe_attr_tag_arm(a.tag, a.value, a.extra).strip() for section in elf.iter_sections()
                     if section["sh_type"] == "SHT_ARM_ATTRIBUTES" for sub in section.iter_subsections()
                     for subsub in sub.iter_subsubsections() for a in subsub.iter_attributes()]
            self.attributes = {text.split(":")[0].lower(): text for text in texts}
            self.cpu = self.attributes.get("tag_cpu_arch", ": ?").split(": ")[1]
            # Mapping symbols ($a, $t, $d, $x), and the functions as (start, size, name).
            table = elf.get_section_by_name(".symtab")
            all_symbols = list(table.iter_symbols()) if table else []
            self.mapping_symbols = [y for y in all_symbols if re.fullmatch(r"\$[adtx](\..*)?", y.name)]
            self.functions = [(y["st_value"] & ~1, y["st_size"], y.name) for y in all_symbols
                              if y["st_info"]["type"] == "STT_FUNC" and y["st_size"] > 0
                              and y["st_shndx"] not in ("SHN_UNDEF", "SHN_ABS")]
            self.interpreter = next((s.get_interp_name() for s in elf.iter_segments()
                                     if s["p_type"] == "PT_INTERP"), None)
            dynamic = elf.get_section_by_name(".dynamic")
            tags = list(dynamic.iter_tags()) if dynamic else []
            self.needed = [t.needed for t in tags if t.entry.d_tag == "DT_NEEDED"]
            self.search_paths = [t.entry.d_tag for t in tags if t.entry.d_tag in ("DT_RPATH", "DT_RUNPATH")]
            self.has_hash = any(t.entry.d_tag == "DT_HASH" for t in tags)
            self.bind_now = any(t.entry.d_tag == "DT_BIND_NOW"
                                or (t.entry.d_tag == "DT_FLAGS" and t.entry.d_val & 0x8)
                                or (t.entry.d_tag == "DT_FLAGS_1" and t.entry.d_val & 0x1) for t in tags)
            # Version index -> (file, version) of the version needs.
            self.needs = {}
            need_section = elf.get_section_by_name(".gnu.version_r")
            if need_section:
                for need, aux_entries in need_section.iter_versions():
                    for aux in aux_entries:
                        self.needs[aux["vna_other"]] = (need.name, aux.name)
            symbols = elf.get_section_by_name(".dynsym")
            versions = elf.get_section_by_name(".gnu.version")
            self.imports = []  # (name, weak, file or None, version or None)
            for index, symbol in enumerate(symbols.iter_symbols() if symbols else []):
                if not symbol.name or symbol["st_shndx"] != "SHN_UNDEF":
                    continue
                ndx = versions.get_symbol(index).entry["ndx"] if versions else 0
                file, need = self.needs.get(ndx & 0x7FFF if isinstance(ndx, int) else 0, (None, None))
                self.imports.append((symbol.name, symbol["st_info"]["bind"] == "STB_WEAK", file, need))

    def glibc_versions(self):
        return sorted({v for _, v in self.needs.values() if v.startswith("GLIBC_")})


def oldest_libc(program, floor, faults):
    asked = program.glibc_versions()
    if "GLIBC_PRIVATE" in asked:
        faults.append("asks for GLIBC_PRIVATE: it would run on one C library build only")
        asked.remove("GLIBC_PRIVATE")
    if not asked:
        return None
    newest = max(asked, key=lambda v: version(v[len("GLIBC_"):]))
    oldest = newest[len("GLIBC_"):]
    if floor and version(oldest) > version(floor):
        faults.append(f"asks for {newest} (of [{', '.join(asked)}]): it would not run on a C library "
                      f"older than {oldest}, and must run from {floor} on")
    return oldest


def fit_to_copy(program, needed, interpreter, faults):
    expected = set(needed.split(","))
    loader = interpreter.rsplit("/", 1)[-1] if interpreter else None
    if loader in program.needed:
        expected.add(loader)
    if sorted(program.needed) != sorted(expected):
        faults.append(f"needs [{';'.join(sorted(program.needed))}]; expected exactly [{';'.join(sorted(expected))}]")
    for tag in program.search_paths:
        faults.append(f"has a library search path ({tag})")
    if not program.bind_now:
        faults.append("is not linked for immediate binding (-z now)")
    if interpreter and program.interpreter != interpreter:
        faults.append(f"names the interpreter [{program.interpreter}]; expected {interpreter}")


def defines(layouts, era, file, symbol, need, loader):
    """Whether FILE of a C library of ERA defines SYMBOL in version NEED."""
    moved = False
    for calls, first, last, row_file, versions in layouts:
        if not re.fullmatch(calls, symbol):
            continue
        moved = True
        row_file = loader if row_file == "LOADER" else row_file
        if (row_file == file and version(first) <= era and (last is None or era <= version(last))
                and need in versions):
            return True
    if moved:
        return False
    if need and need.startswith("GLIBC_") and need != "GLIBC_PRIVATE":
        return file == "libc.so.6" and version(need[len("GLIBC_"):]) <= era
    return not need and symbol.startswith("plc_") and file == "libplc.so"


def loader_view(program, floor, faults):
    """Looks every import up as the loader of each layout from FLOOR on does."""
    layouts = LAYOUTS.get(program.machine, [])
    loader = (program.interpreter or "").rsplit("/", 1)[-1]
    eras = sorted({version(first) for _, first, _, _, _ in layouts})
    lines = []
    if not program.imports:
        faults.append("imports no symbol: nothing could be checked")
    for file, _ in program.needs.values():
        if file not in program.needed:
            faults.append(f"its version need names {file}, which it does not need (NEEDED)")
    for at, era in enumerate(eras):
        following = eras[at + 1] if at + 1 < len(eras) else None
        if following and following <= version(floor):
            continue  # a layout that ends before the floor serves none of its controllers
        libraries = (f"C libraries {text_of(era)} to {following[0]}.{following[1] - 1}" if following
                     else f"C libraries {text_of(era)} on")
        for file, need in sorted(set(program.needs.values())):
            if need.startswith("GLIBC_") and need != "GLIBC_PRIVATE" and (
                    version(need[len("GLIBC_"):]) > era or (file == "librt.so.1" and need != "GLIBC_2.4")):
                faults.append(f"{libraries}: {file}: version `{need}' not found")
        found_where = []
        for symbol, weak, named_file, need in program.imports:
            found = stopped = None
            for library in program.needed:
                if defines(layouts, era, library, symbol, need, loader):
                    found = library
                    break
                if library == named_file and era < NAMED_FILE_STOPS_BEFORE:
                    stopped = library
                    break
            if stopped:
                faults.append(f"{libraries}: symbol {symbol}, version {need} not defined in file {stopped} with "
                              f"link time reference (the loader reaches {stopped}, which the version need names, "
                              "before any library that holds it)")
            elif not found and not weak:
                faults.append(f"{libraries}: undefined symbol {symbol} {need or ''}: no library it needs defines it")
            elif found and re.fullmatch(f"{CLOCK_CALLS}|{RT_CALLS}", symbol):
                found_where.append(f"{symbol}@{need} from {found}")
        if found_where:
            lines.append(f"  {libraries}: {', '.join(found_where)}")
    return lines


def old_loaders(program, floor, faults):
    if version(floor) < (2, 5) and not program.has_hash:
        faults.append("has no SysV hash table (DT_HASH): loaders before 2.5 cannot read it")
    helpers = sorted(name for name, _, _, _ in program.imports
                     if HELPERS.fullmatch(name) and not NOT_HELPERS.match(name))
    if helpers:
        faults.append(f"takes compiler runtime helpers from the libraries it loads: [{';'.join(helpers)}]")
    return loader_view(program, floor, faults)


def assembly_of(listing, state, faults):
    """The disassembly as the assembler reads it, each line in its state (ARM encodings are 8 hex
    digits): branch targets become "." (.+4 for cbz, which branches forward only), comments go.
    Returns the lines and, for each, its (address, text) or None."""
    lines, where, written = ([], [], None) if state == "a64" else ([".syntax unified"], [None], None)
    for line in listing.splitlines():
        found = re.match(r" *([0-9a-f]+):\t([^\t]*)\t(.*)$", line)
        if not found or found.group(3).startswith("."):  # .word and such: data
            continue
        address, encoding, text = int(found.group(1), 16), found.group(2).strip(), found.group(3)
        if state == "a64":
            text = re.sub(r"[0-9a-f]+ <[^>]*>$", ".", re.sub(r"[ \t]*//.*$", "", text))
        else:
            now = "arm" if re.fullmatch(r"[0-9a-f]{8}", encoding) else "thumb"
            if now == "thumb" and state == "arm":
                faults.append(f"{address:x}\tThumb code: {text}")
                continue
            if re.fullmatch(r"bl?x?[a-z.]*\t[0-9a-f]+( <[^>]*>)?", text):
                text = re.sub(r"\t.*$", "\t.", text)
            if text.startswith(("cbz\t", "cbnz\t")):
                text = re.sub(r", [0-9a-f]+( <[^>]*>)?$", ", .+4", text)
            text = re.sub(r"[ \t]*[@;].*$", "", text)
            if text and now != written:
                lines.append("." + now)
                where.append(None)
                written = now
        if not text:
            faults.append(f"{address:x}\tnot an instruction: {encoding}")
            continue
        lines.append(text)
        where.append((address, text))
    return lines, where


def instructions(program, path, tools, floor, state, attributes, faults):
    """Holds every instruction and the build attributes to the floor; returns how many were checked."""
    if not program.mapping_symbols:
        faults.append("no mapping symbols (stripped?): code cannot be told from data")
        return 0
    listing = subprocess.run([tools + "objdump", "-d", "--wide", path], capture_output=True, text=True)
    if listing.returncode:
        faults.append(f"{tools}objdump cannot read it: {listing.stderr.strip()[:200]}")
        return 0
    lines, where = assembly_of(listing.stdout, state, faults)
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "code.s"), "w") as source:
            source.write("\n".join(lines) + "\n")
        assembled = subprocess.run([tools + "as", *floor.split(), "-o", os.path.join(work, "code.o"),
                                    os.path.join(work, "code.s")], capture_output=True, text=True)
    if assembled.returncode:
        refused = re.findall(r"^[^:\n]*:(\d+): Error: (.*)$", assembled.stderr, re.M)
        for number, message in refused:
            address, text = where[int(number) - 1] or (0, "")
            faults.append(f"{address:x}\t{text}: {message}")
        if not refused:
            faults.append("the assembler failed: " + " ".join(assembled.stderr.splitlines()[:3]))
    checked = sorted(address for address, _ in filter(None, where))
    for start, size, name in sorted(set(program.functions)):
        at = bisect.bisect_left(checked, start)
        if at == len(checked) or checked[at] >= start + size:
            faults.append(f"{name}: no instruction of it was checked")
    if not checked:
        faults.append(f"no instruction was read from the disassembly of {tools}objdump")
    for wanted in filter(None, attributes.split("|")):
        have = program.attributes.get(wanted.split(":")[0].lower(), "none")
        if have.lower() != wanted.lower():
            faults.append(f'attributes lack "{wanted}": {have}')
    return len(checked)


def summary(program, oldest):
    if program.machine == "EM_AARCH64":
        target = "ARMv8-A, AArch64 (LP64)"
    else:
        target = f"CPU {program.cpu}, " + ("hard-float EABI" if program.flags & 0x400 else "soft-float EABI")
    return (f"{target}; interpreter {program.interpreter}; NEEDED {' '.join(program.needed)}; "
            f"C library {oldest or '?'} or newer")


def check_instructions(paths, tools, floor, state, attributes):
    failed = 0
    for path in paths:
        faults = []
        checked = instructions(Program(path), path, tools, floor, state, attributes, faults)
        name = os.path.basename(path)
        if faults:
            print(f"{name}: {len(faults)} faults against {floor}:\n  " + "\n  ".join(faults[:20])
                  + (f"\n  ... and {len(faults) - 20} more" if len(faults) > 20 else ""), file=sys.stderr)
            failed = 1
        else:
            print(f"{name}: all {checked} instructions exist on {floor} ({state} state); attributes [{attributes}]")
    return failed


def check_program(args):
    program, faults, view = Program(args.binaries[0]), [], []
    oldest = oldest_libc(program, args.floor, faults)
    checked = [f"runs on a GNU C library of {oldest} or newer" if oldest else "asks for no GLIBC version"]
    if args.needed:
        fit_to_copy(program, args.needed, args.interpreter, faults)
        checked.append(f"needs [{', '.join(program.needed)}], no search path, bound at load"
                       + (f", interpreter {args.interpreter}" if args.interpreter else ""))
    if args.old_loaders:
        view = old_loaders(program, args.floor, faults)
        checked.append(f"SysV hash table where needed, found by the loader of every C library "
                       f"from {args.floor} on:")
    if faults:
        print(f"{args.binaries[0]}:\n  " + "\n  ".join(faults), file=sys.stderr)
        return 1
    print("\n".join([f"{args.binaries[0]}: " + "; ".join(checked)] + view))
    return 0


def main():
    # The floor's options start with "-": read by place, not by argparse.
    argv, instruction_check = sys.argv[1:], None
    if "--instructions" in argv:
        at = argv.index("--instructions")
        instruction_check = argv[at + 1:at + 5]
        argv = argv[:at] + argv[at + 5:]
        if len(instruction_check) < 4:
            sys.exit("elf_check: --instructions takes TOOL_PREFIX FLOOR STATE ATTRIBUTES")
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("binaries", nargs="+", metavar="BINARY")
    for option in ("--needed", "--interpreter", "--floor"):
        parser.add_argument(option)
    for option in ("--old-loaders", "--summary"):
        parser.add_argument(option, action="store_true")
    args = parser.parse_args(argv)
    program_check = args.floor or args.needed or args.interpreter or args.old_loaders
    if args.summary:
        program = Program(args.binaries[0])
        print(summary(program, oldest_libc(program, None, [])))
        return 0
    if program_check or not instruction_check:
        if not args.floor:
            parser.error("--floor VERSION is required: the oldest C library the binary must run on")
        if len(args.binaries) != 1:
            parser.error("the program's checks read one binary")
        failed = check_program(args)
    else:
        failed = 0
    if instruction_check:
        tools, floor, state, attributes = instruction_check
        failed |= check_instructions(args.binaries, tools, floor, state, attributes.strip("-"))
    return failed


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (ELFError, OSError) as error:
        print(f"elf_check: cannot read a binary as ELF: {error}", file=sys.stderr)
        sys.exit(1)
