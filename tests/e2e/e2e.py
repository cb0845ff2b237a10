#!/usr/bin/env python3
"""End-to-end cases of plc_do_test and plc_do_profile (built beside it) against
the stand-in, one table: each run's program, arguments, settings and expected
status, output, trace and pauses (docs/building.md). Status 77: skipped.

  e2e.py CASE|all BUILD PROGRAM [RUNNER...]    (run as run_program.sh runs it)
  e2e.py --list [kinds]
"""
import concurrent.futures
import datetime
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

USAGE = (b" params: iter,delay,start_DO_numer,end_DO_number,safe_thread \n\r  iter = 10..10000(max) \n\r"
         b"   delay = delay in mks \n\r   start_DO_number = first num of digital output (for 100=25, for 110=42) \n\r"
         b"   end_DO_number = last num of digital output (for 100=35, for 110=60) \n\r"
         b"   use_safe_thread = N - use safe thread (write to N), 0 -not use safe thread \n\r ")
LIMIT = b"number of iterations can't exceed 10000\n"
REPORT = re.compile(rb"total execution time is: (\d+)s\nnumber of delays:\n<20ms: (\d+)\n20\.\.30ms: (\d+)\n"
                    rb"30\.\.40ms: (\d+)\n>40ms: (\d+)\nmaximum delay: (\d+)ms\n\Z")


def report(total, counts, max_ms):
    """The whole report of a completed run."""
    return ("total execution time is: %ds\nnumber of delays:\n<20ms: %d\n20..30ms: %d\n30..40ms: %d\n"
            ">40ms: %d\nmaximum delay: %dms\n" % (total, *counts, max_ms)).encode()


def classes(count, us):
    """The four class counts of COUNT delays of US microseconds each."""
    bounds = [20000, 30000, 40000]
    place = next((i for i, bound in enumerate(bounds) if us <= bound), 3)
    return [count if i == place else 0 for i in range(4)]


def writes(iterations, first, cycle, refusals=0, safe=25):
    """The trace of a sweep: the safe value, then each write refused REFUSALS times, then accepted."""
    lines = ["safe_value %d 1\n" % safe]
    for i in range(iterations):
        call = "write %d %d " % (first + i % cycle, i % 2)
        lines += [call + "-1\n"] * refusals + [call + "0\n"]
    return "".join(lines)


def run(args, status=1, stdout=None, trace=None, virtual=True, env=None, pauses=None, check=None, output=None,
        quiet=True, program="plc_do_test", user=None, signals=(), tracefs=False):
    """One run: ARGS split at blanks, stand-in settings ENV ("{work}": the case's folder); None is not
    checked. PAUSES (count, us): every pause exactly us. CHECK(result): a fault or None. OUTPUT "full",
    "closed", "pipe" (standard output: /dev/full, closed, a pipe nobody reads) or "elsewhere" (started from
    a copy in its own folder). QUIET: nothing on standard error. PROGRAM: the one built beside plc_do_test
    to run. USER: run as this user when root. SIGNALS: names of signals sent one by one, 0.3 s apart,
    once the run's --log file (ARGS must give "--log log") holds a line: the sweep is under way.
    TRACEFS: with a stand-in of tracefs' trace_marker and tracing_on in its folder (PLC_TRACEFS)."""
    return dict(args=args.split(), status=status, stdout=stdout, trace=trace, virtual=virtual, env=env or {},
                pauses=pauses, check=check, output=output, quiet=quiet, kinds=False, program=program, user=user,
                signals=signals, tracefs=tracefs)


def profile(args, **settings):
    """A run of plc_do_profile."""
    return run(args, program="plc_do_profile", **settings)


def kinds(runs):
    """Marks a case whose runs tell the kinds of toolchain apart: tests/build/sdk_build.sh runs
    every case so marked (e2e.py --list kinds) with each kind's build."""
    return [dict(want, kinds=True) for want in runs]


def figures(check):
    """A check of a real-time report's figures: CHECK(total, counts, max_ms)."""
    def read(result):
        found = REPORT.fullmatch(result["stdout"])
        if not found:
            return "the report lines are not as expected"
        numbers = [int(n) for n in found.groups()]
        return check(numbers[0], numbers[1:5], numbers[5])
    return read


def virtual_utc(at_us):
    """The wall-clock time AT_US into a sweep in virtual time, which starts at 100 s."""
    at = datetime.datetime(1970, 1, 1) + datetime.timedelta(seconds=100, microseconds=at_us)
    return at.strftime("%Y-%m-%dT%H:%M:%S.%fZ")


def planned_profile(iterations, pause, first, cycle, write_us, refusals=0, longest=10):
    """The figures plc_do_profile finds, in virtual time, for a sweep whose write attempts to output P
    take WRITE_US(P) each, every write refused REFUSALS times: as its JSON holds them. Percentiles by
    nearest rank, means in tenths rounded half up, ties among the longest earliest first."""
    rows, at = [], 0
    for i in range(iterations):
        output = first + i % cycle
        write = write_us(output) * (refusals + 1) + pause * refusals
        rows.append(dict(iteration=i, at_ms=at / 1000, utc=virtual_utc(at), output=output, value=i % 2,
                         attempts=refusals + 1, write_us=write, oversleep_us=0, delay_us=write + pause))
        at += write + pause

    def mean(values):
        return (sum(values) * 20 + len(values)) // (2 * len(values)) / 10

    def summary(key):
        v = sorted(row[key] for row in rows)
        rank = lambda per_mille: v[max(1, -(-per_mille * len(v) // 1000)) - 1]
        return dict(min=v[0], median=rank(500), p90=rank(900), p99=rank(990), p99_9=rank(999), max=v[-1],
                    mean=mean(v))
    bounds = [pause + (50 << k) for k in range(15)] + [pause + 1000000]
    counts = [0] * (len(bounds) + 1)
    for row in rows:
        counts[next((k for k, bound in enumerate(bounds) if row["delay_us"] <= bound), len(bounds))] += 1
    outputs = []
    for output in range(first, first + min(cycle, iterations)):
        mine = [row for row in rows if row["output"] == output]
        writes = [row["write_us"] for row in mine]
        outputs.append(dict(output=output, outputs=1, writes=len(mine), write_min=min(writes), write_mean=mean(writes),
                            write_max=max(writes), longest_delay=max(row["delay_us"] for row in mine)))
    return dict(delay=summary("delay_us"), write=summary("write_us"), oversleep=summary("oversleep_us"),
                histogram=[[bound, count] for bound, count in zip(bounds + [None], counts)], outputs=outputs,
                longest=sorted(rows, key=lambda row: (-row["delay_us"], row["iteration"]))[:longest],
                samples=rows)


FIGURE_ROW = re.compile(r"^(delay|write|oversleep) +" + " +".join([r"(-?\d+)"] * 6) + r" +(-?\d+\.\d)$")
BIN_ROW = re.compile(r"^(<=|>) (\d+)\D.*? (\d+)(  #+)?$")
OUTPUT_ROW = re.compile(r"^ *(\d+) +(\d+) +(-?\d+) +(-?\d+\.\d) +(-?\d+) +(-?\d+)$")
ITERATION_ROW = re.compile(r"^ *(\d+) +(\d+\.\d{3}) +(\d+) +(\d+) +(\d+) +(-?\d+) +(-?\d+) +(-?\d+)  (\S+Z)$")
ITERATION_KEYS = ["iteration", "at_ms", "output", "value", "attempts", "write_us", "oversleep_us", "delay_us", "utc"]
OUTPUT_KEYS = ["output", "writes", "write_min", "write_mean", "write_max", "longest_delay"]
SUMMARY_KEYS = ["min", "median", "p90", "p99", "p99_9", "max", "mean"]


def number(text):
    if text.endswith("Z"):
        return text
    return float(text) if "." in text else int(text)


def text_profile(text):
    """The figures of a text profile, read back into the JSON's form; its sections lie between blank
    lines: report, facts, figures, histogram, outputs, the longest delay, the longest, the records
    over time, samples."""
    sections = text.split("\n\n")
    sections = sections[:5] + [next(s for s in sections if re.match(r"the \d+ longest delays", s))] + [
        s for s in sections if s.startswith("samples")]
    rows = lambda pattern, section: [[number(n) for n in m.groups()] for m in map(pattern.match,
                                     sections[section].splitlines()) if m]
    figures = {name: dict(zip(SUMMARY_KEYS, [int(n) for n in numbers[:6]] + [float(numbers[6])]))
               for name, *numbers in (m.groups() for m in map(FIGURE_ROW.match, sections[2].splitlines()) if m)}
    figures["histogram"] = [[None if m[1] == ">" else int(m[2]), int(m[3])]
                            for m in map(BIN_ROW.match, sections[3].splitlines()) if m]
    figures["outputs"] = [dict(zip(OUTPUT_KEYS[:1] + ["outputs"] + OUTPUT_KEYS[1:], r[:1] + [1] + r[1:]))
                          for r in rows(OUTPUT_ROW, 4)]
    figures["longest"] = [dict(zip(ITERATION_KEYS, r)) for r in rows(ITERATION_ROW, 5)]
    if len(sections) > 6:
        figures["samples"] = [dict(zip(ITERATION_KEYS, r)) for r in rows(ITERATION_ROW, 6)]
    return figures


PROFILE_KEYS = ["report", "identity", "system", "parameters", "percentiles", "delay", "write", "oversleep",
                "histogram", "outputs", "maximum", "limit", "trace", "interval_merges", "log_errors", "intervals",
                "longest"]


PERCENTILES = ("median", "p90", "p99", "p99_9")


def same_figures(key, got, want):
    """Whether GOT holds WANT's figures: percentiles from the histograms within their stated error
    (exact up to 255 us, above at most 1/128 above, never below), all else exactly."""
    if key not in ("delay", "write", "oversleep") or not isinstance(got, dict):
        return got == want
    within = lambda g, w: w <= g <= w + (0 if w < 256 else w // 128)
    return set(got) == set(want) and all(within(got[k], want[k]) if k in PERCENTILES else got[k] == want[k]
                                         for k in want)


def profiled(expected, report_text, samples=False):
    """A check of a profile, text or JSON (as its arguments ask), against EXPECTED (planned_profile) and
    the REPORT_TEXT plc_do_test would print."""
    want = dict(expected) if samples else {k: v for k, v in expected.items() if k != "samples"}

    def check(result):
        text = result["stdout"].decode()
        if "--json" in result["args"]:
            try:
                got = json.loads(text)
            except ValueError as error:
                return "the JSON does not parse: %s" % error
            if list(got) != PROFILE_KEYS + ["samples"] * samples:
                return "the JSON's keys are %s" % list(got)
            if got["report"] != report_text.decode() or not got["identity"].startswith("plc_do_profile "):
                return "the JSON's report or identity differ: %r %r" % (got["report"], got["identity"])
        else:
            if not text.startswith(report_text.decode() + "\nplc_do_profile "):
                return "the text does not begin with the report and the identity: %r" % text[:300]
            got = text_profile(text)
        faults = ["%s: got %s, expected %s" % (key, got.get(key), value) for key, value in want.items()
                  if not same_figures(key, got.get(key), value)]
        return "; ".join(faults) or None
    return check


def zero_filled_data(program):
    """The program's .bss (where its log lives): link-time address, size,
    whether it is placed where loaded (a PIE), and its first load address."""
    from elftools.elf.elffile import ELFFile
    with open(program, "rb") as file:
        elf = ELFFile(file)
        bss = elf.get_section_by_name(".bss")
        first_load = min(segment["p_vaddr"] for segment in elf.iter_segments() if segment["p_type"] == "PT_LOAD")
        return bss["sh_addr"], bss["sh_size"], elf["e_type"] == "ET_DYN", first_load


MAPPING = re.compile(rb"^([0-9a-f]+)-([0-9a-f]+) \S+ ([0-9a-f]+) \S+ \d+ *(.*)$")


def memory_locked(result):
    """Every page of the log (in the program's zero-filled data) is resident and locked before the
    first reading: each mapping it spans counts all its pages as Locked."""
    mappings, field = [], re.compile(rb"^(Size|Locked):\s*(\d+) kB$")
    for line in result["locked"].splitlines():
        mapping, value = MAPPING.match(line), field.match(line)
        if mapping:
            mappings.append(dict(start=int(mapping[1], 16), end=int(mapping[2], 16), offset=int(mapping[3], 16),
                                 path=mapping[4].decode(errors="replace")))
        elif value and mappings:
            mappings[-1][value[1].decode()] = int(value[2])
    address, size, placed, first_load = zero_filled_data(result["program"])
    own = [m for m in mappings if os.path.realpath(m["path"]) == os.path.realpath(result["program"])]
    if not own:
        return "no mapping of the program in its smaps: %r" % result["locked"][:300]
    if placed:
        address += min(m["start"] - m["offset"] for m in own) - first_load
    spanned = [m for m in mappings if m["start"] < address + size and m["end"] > address]
    covered = sum(min(m["end"], address + size) - max(m["start"], address) for m in spanned)
    unlocked = ["%x-%x: %s of %s kB locked" % (m["start"], m["end"], m.get("Locked"), m.get("Size"))
                for m in spanned if m.get("Locked") != m.get("Size")]
    if covered != size or unlocked:
        return "the log (%d bytes at %x) not all locked before the first reading: %s" % (
            size, address, "; ".join(unlocked) or "%d of its bytes mapped" % covered)


def says_lost(result):
    """plc_do_profile's lost profile said in one line on standard error."""
    if not re.fullmatch(rb"plc_do_profile: the profile could not be written to standard output: [^\n]+\n",
                        result["stderr"]):
        return "not one line saying the profile was lost: %r" % result["stderr"]


def loads_no_local_library(result):
    if os.path.exists(result["trace_file"]):
        return "the libplc.so of the directory it was started in was loaded"
    if result["status"] == 127 and b"libplc.so" not in result["stderr"]:
        return "the loader did not name the missing libplc.so"


WITH_REFUSAL = {"PLCSIM_REFUSE": "1", "PLCSIM_WRITE_US": "250"}
# Outputs 30 and 31 on a slow I/O module: 5 ms a write attempt, 100 us on the others.
SLOW_30_31 = {"PLCSIM_SLOW": "30-31:5000", "PLCSIM_WRITE_US": "100"}
slow_30_31 = lambda output: 5000 if output in (30, 31) else 100
PROFILE_USAGE = re.compile(rb"usage: plc_do_profile [^\r]*--priority N[^\r]*--longest K[^\r]*\n\Z")


def refused_before_the_sweep(*words):
    """A check that a refused command line named WORDS on standard error before any clock reading (the
    readings of a sanitizer's runtime, which reads the clock as it starts, aside)."""
    def check(result):
        missing = [w for w in words if w.encode() not in result["stderr"]]
        with open(result["program"], "rb") as program:
            sanitized = b"__asan_init" in program.read()
        if missing or ("clock" in (result["time"] or "") and not sanitized):
            return "%s not named on standard error (%r), or the clock read" % (missing, result["stderr"])
    return check


def seed_texts(folder):
    """The texts of every seed of the fuzz target (command_line_fuzz.cc: the first byte modulo 8 is
    their number, the rest split at NULs)."""
    texts = set()
    for name in os.listdir(folder):
        data = read(os.path.join(folder, name), "rb")
        texts.update(data[1:].split(b"\0")[:data[0] % 8] if data else [])
    return texts


def man_options(path):
    """The lines of a manual page's OPTIONS section, "\\-" read as "-"."""
    section = read(path).replace("\\-", "-").split("\n.SH OPTIONS\n")[1].split("\n.SH ")[0]
    return set(section.splitlines())


# Where every option of plc_do_profile is named, beside its row in the program's table: a place,
# what it names (read from the place), and how it names an option NAME with the word of its VALUE.
OPTION_PLACES = [
    ("docs/man/plc_do_profile.1", man_options,
     lambda name, value: '.BI %s " %s"' % (name, value) if value else ".B " + name),
    ("docs/profile.md", lambda path: set(re.findall(r"^\| `([^`]+)` \|", read(path), re.M)),
     lambda name, value: name + " " + value if value else name),
    ("tests/fuzz/corpus", seed_texts, lambda name, value: name.encode()),
]
USAGE_OPTION = re.compile(r"^  (--[\w-]+)(?: (\w+))?  ", re.M)


def options_named(result):
    """A check that every option the usage text lists is named in each of OPTION_PLACES."""
    options = USAGE_OPTION.findall(result["stdout"].decode())
    missing = ["%r in %s" % (named(name, value), path) for path, names, named in OPTION_PLACES
               for found in [names(os.path.join(HERE, "..", "..", path))]
               for name, value in options if named(name, value) not in found]
    if not options or missing:
        return "options not named: %s" % ("; ".join(missing) or "none in the usage text")


def stopped_by(name):
    """A check of a JSON profile of a run stopped by signal NAME: said so, with what ran, and its
    records over time as --log appended them ("log" in the run's folder)."""
    def check(result):
        try:
            got = json.loads(result["stdout"])
            lines = [json.loads(line) for line in open(os.path.join(os.path.dirname(result["trace_file"]), "log"))]
        except ValueError as error:
            return "the profile or its log does not parse: %s" % error
        p, intervals = got["parameters"], got["intervals"]
        if (p["end"], p["stop_signal"]) != ("stopped", "SIG" + name) or p["iterations_done"] == 0:
            return "not a profile of a run stopped by SIG%s: %s" % (name, p)
        if sum(i["iterations"] for i in intervals) != p["iterations_done"] or got["delay"] is None:
            return "the records over time do not hold the iterations done: %s" % p
        if got["interval_merges"] == 0 and lines != intervals:
            return "--log's lines differ from the records over time: %s / %s" % (lines[:2], intervals[:2])
        if sum(line["iterations"] for line in lines) != p["iterations_done"]:
            return "--log's lines do not hold the iterations done"
    return check


def a_day(pause, first, cycle, write_us, seconds):
    """A check of a JSON profile of a run of SECONDS (--duration) in virtual time, outputs FIRST on in a
    cycle of CYCLE, each write taking WRITE_US(output): every count exact, the percentiles within
    their error, and the same resident memory at the sweep's end as at its start where it is locked
    (and not emulated)."""
    delays = [write_us(first + k) + pause for k in range(cycle)]
    rounds, left = divmod(seconds * 1000000, sum(delays))
    extra = 0
    while left > 0:
        left -= delays[extra]
        extra += 1
    n = rounds * cycle + extra  # the iteration that reaches the duration is the last
    writes = [rounds + (k < extra) for k in range(cycle)]

    def check(result):
        got = json.loads(result["stdout"])
        p = got["parameters"]
        if (p["end"], p["iterations_done"]) != ("duration", n):
            return "%s after %s iterations, expected the duration's end after %d" % (p["end"], p["iterations_done"], n)
        mean = lambda total: (total * 20 + n) // (2 * n) / 10
        by_delay = sorted(zip(delays, writes))
        want = dict(delay=dict(min=by_delay[0][0], max=by_delay[-1][0],
                               mean=mean(sum(d * w for d, w in zip(delays, writes)))),
                    write=dict(min=min(delays) - pause, max=max(delays) - pause,
                               mean=mean(sum((d - pause) * w for d, w in zip(delays, writes)))))
        for key, figures in want.items():
            if any(got[key][k] != v for k, v in figures.items()):
                return "%s: %s, expected %s" % (key, got[key], figures)
        if [o["writes"] for o in got["outputs"]] != writes or sum(i["iterations"] for i in got["intervals"]) != n:
            return "per output or over time, the iterations differ"
        # Under an emulator the resident memory is the emulator's, which grows as it translates.
        if got["system"]["memory_locked"] and not result["emulated"] and \
                p["resident_kb_before"] != p["resident_kb_after"]:
            return "resident memory grew: %s kB to %s kB" % (p["resident_kb_before"], p["resident_kb_after"])
    return check


def over_limit(exceedances, first, last, streak, streak_first):
    """A check of a JSON profile's delays above --limit: how many, the first, the last, the longest streak."""
    def check(result):
        limit = json.loads(result["stdout"])["limit"] or {}
        got = (limit.get("exceedances"), (limit.get("first") or {}).get("iteration"),
               (limit.get("last") or {}).get("iteration"), (limit.get("longest_streak") or {}).get("length"),
               (limit.get("longest_streak") or {}).get("iteration"))
        if got != (exceedances, first, last, streak, streak_first):
            return "over the limit: %s, expected %s" % (got, (exceedances, first, last, streak, streak_first))
    return check


def broke_at(iteration, output, delay):
    """A check of a JSON profile that --break stopped at ITERATION, writing OUTPUT, after DELAY us:
    the stand-in's trace_marker holds the line, its tracing_on 0, and the profile says both."""
    def check(result):
        folder = os.path.dirname(result["trace_file"])
        got = json.loads(result["stdout"])
        p, trace = got["parameters"], got["trace"] or {}
        line = "plc_do_profile: break at iteration %d, output %d, delay %d us\n" % (iteration, output, delay)
        if (p["end"], p["iterations_done"]) != ("break", iteration + 1):
            return "not stopped by --break after iteration %d: %s" % (iteration, p)
        if read(folder + "/trace_marker") != line or read(folder + "/tracing_on") != "0":
            return "the trace: %r, tracing_on %r" % (read(folder + "/trace_marker"), read(folder + "/tracing_on"))
        if (trace.get("break") or {}).get("marker_written") is not True or not trace["break"]["tracing_stopped"]:
            return "the profile does not say the trace was marked and stopped: %s" % trace
    return check


def dumped(result):
    """A profile so far on standard error (SIGUSR1), the run going on, then the whole one on standard
    output."""
    if b"; under way (the profile so far)\n" not in result["stderr"] or b"longest delays" not in result["stderr"]:
        return "no profile so far on standard error: %r" % result["stderr"][:300]
    if b"; stopped by SIGINT\n" not in result["stdout"]:
        return "the profile does not say the run was stopped: %r" % result["stdout"][:300]


def scheduled(policy, priority, refused):
    """A check of the scheduling a JSON profile reports: REFUSED, the start of the refusal or None."""
    def check(result):
        system = json.loads(result["stdout"])["system"]
        got = (system["policy"], system["priority"], (system["priority_refused"] or "")[:len(refused or "")] or None)
        if got != (policy, priority, refused):
            return "scheduling reported as %s, expected %s" % (got, (policy, priority, refused))
    return check


CASES = {
    "usage": kinds([run(a, status=255, stdout=USAGE, trace="") for a in ("", "1", "1 2", "1 2 3")]),
    "iteration_limit": [run(i + " 0 25 35 0", status=255, stdout=LIMIT, trace="")
                        for i in ("10001", "-1", "4294967296", "-4294967296", "0x2711")]
                       + [run("-1 0 25 35", status=255, stdout=LIMIT, trace="")],
    # iter 0, or no digits at all: a report of nothing, the safe value still set.
    "no_iterations": [run(i + " 0 25 35 0", stdout=report(0, [0] * 4, 0), trace=writes(0, 25, 1), pauses=(0, 0))
                      for i in ("0", "abc")],
    # 25..34: the cycle is 25..33, 34 never written; four parameters or a sixth change nothing.
    "sweep_order": kinds([run("12 0 25 34" + extra, stdout=report(0, [12, 0, 0, 0], 0), trace=writes(12, 25, 9))
                    for extra in (" 0", "", " 0 junk more")]),
    # Numbers in any base, signed, wrapping at 32 bits; each write refused once, 250 us an attempt.
    "odd_numbers": [
        run("12 9750 25 34 0", env=WITH_REFUSAL, stdout=report(0, [12, 0, 0, 0], 20),
            trace=writes(12, 25, 9, 1), pauses=(24, 9750)),
        run("9 14751 42 60 0 extra", env=WITH_REFUSAL, stdout=report(0, [0, 0, 9, 0], 30),
            trace=writes(9, 42, 19, 1, safe=42), pauses=(18, 14751)),
        run("7 19501 0xffffffff 3 0", env=WITH_REFUSAL, stdout=report(0, [0, 0, 7, 0], 39),
            trace=writes(7, -1, 5, 1, safe=-1), pauses=(14, 19501)),
        run("5 1 -5 -9 0", env=WITH_REFUSAL, stdout=report(0, [5, 0, 0, 0], 0), trace=writes(5, -5, 5, 1, safe=-5),
            pauses=(10, 1)),
        run("300 20000 25 35 0", env=WITH_REFUSAL, stdout=report(12, [0, 0, 0, 300], 40),
            trace=writes(300, 25, 11, 1), pauses=(600, 20000)),
    ],
    "refused_then_accepted": [run("12 0 25 34 0", env={"PLCSIM_REFUSE": "2"}, stdout=report(0, [12, 0, 0, 0], 0),
                                  trace=writes(12, 25, 9, 2))],
    # 0x2710 = 10000, the most the log holds; what follows the digits is not read.
    "full_log": [run(i + " 0 7 7 0", stdout=report(0, [10000, 0, 0, 0], 0), trace=writes(10000, 7, 1, safe=7))
                 for i in ("0x2710", "0x2710x")],
    # One window of 2.5 s crosses two or three second boundaries (real time).
    "long_delay": [run("1 2500000 25 35 0", virtual=False, trace=writes(1, 25, 11), check=figures(
        lambda total, counts, max_ms: None if counts == [0, 0, 0, 1] and 2500 <= max_ms < 2700 and 2 <= total <= 3
        else "a 2.5 s delay reported as %d s, %s, %d ms" % (total, counts, max_ms)))],
    # Time the controller takes for a write falls inside the window (real time).
    "slow_writes": [run("3 0 25 35 0", virtual=False, env={"PLCSIM_WRITE_US": "25000"}, check=figures(
        lambda total, counts, max_ms: None if sum(counts) == 3 and counts[0] == 0 and max_ms >= 25
        else "25 ms writes reported as %s, %d ms" % (counts, max_ms)))],
    # Each delay is exactly the pause; a bound belongs to the lower class; the longest in whole ms.
    "exact_delays": kinds([run("3 %d 25 35 0" % us, stdout=report(0, classes(3, us), us // 1000), pauses=(3, us))
                     for us in (0, 1, 999, 1001, 12345, 20000, 20001, 20999, 30000, 30001, 40000, 40001)]),
    # Three attempts a write, each 500 us and a full pause, all inside the iteration's window.
    "refusals_in_window": kinds([run("4 7000 25 35 0", env={"PLCSIM_REFUSE": "2", "PLCSIM_WRITE_US": "500"},
                               stdout=report(0, [0, 4, 0, 0], 22), trace=writes(4, 25, 11, 2), pauses=(12, 7000),
                               check=lambda r: None if r["time"].count("sleep 500\n") == 12
                               else "expected 12 write times of 500 us")]),
    # The total counts second boundaries crossed: 20 us across one is 1 s, and so is 1.9 s.
    "whole_seconds": [run("2 10 25 35 0", env={"VTIME_START_US": "100999990"}, stdout=report(1, [2, 0, 0, 0], 0)),
                      run("1 1900000 25 35 0", env={"VTIME_START_US": "100050000"},
                          stdout=report(1, [0, 0, 0, 1], 1900))],
    # 10,000 iterations of 20 ms: 200 s of the controller's time.
    "long_run": [run("10000 20000 7 7 0", stdout=report(200, [10000, 0, 0, 0], 20), pauses=(10000, 20000))],
    # Output 31 refuses every write for 10 s (a pause after each); the report covers the six before.
    "write_never_accepted": [run("30 1000 25 35 0", status=2, env={"PLCSIM_OUTPUTS": "25-30"},
                                 stdout=b"output 31 refused every write for 10 s; run stopped after 6 of 30 "
                                        b"iterations\n" + report(10, [6, 0, 0, 0], 1),
                                 trace=writes(6, 25, 11) + "write 31 0 -1\n" * 10000, pauses=(6 + 10000, 1000)),
                             profile("30 1000 25 35 --json", status=2, env={"PLCSIM_OUTPUTS": "25-30"},
                                     check=profiled(planned_profile(6, 1000, 25, 11, lambda output: 0),
                                                    b"output 31 refused every write for 10 s; run stopped after 6 of 30 "
                                                    b"iterations\n" + report(10, [6, 0, 0, 0], 1)))],
    # The log resident and locked before the first reading (the safe value). Root only.
    "memory_locked": kinds([run("3 0 25 35 0", env={"PLCSIM_LOCKED": "{work}/locked"}, check=memory_locked),
                            profile("3 0 25 35 0", env={"PLCSIM_LOCKED": "{work}/locked"}, check=memory_locked)]),
    # Every figure of a planned run, in text and in JSON: which outputs, when, the write's share.
    "profile_figures": kinds([
        profile("22 1000 25 --longest 3 35" + form, env=SLOW_30_31, trace=writes(22, 25, 11), pauses=(22, 1000),
                check=profiled(planned_profile(22, 1000, 25, 11, slow_30_31, longest=3), report(0, [22, 0, 0, 0], 6)))
        for form in ("", " --json")] + [
        profile("12 1000 25 35 --samples" + form, env=dict(SLOW_30_31, PLCSIM_REFUSE="1"), trace=writes(12, 25, 11, 1),
                pauses=(24, 1000), check=profiled(planned_profile(12, 1000, 25, 11, slow_30_31, refusals=1),
                                                  report(0, [12, 0, 0, 0], 12), samples=True))
        for form in ("", " --json")]),
    # A refused option: named, status 255, before any clock reading or controller call.
    "profile_options": [profile("3 0 25 35 " + o, status=255, stdout=b"", trace="", quiet=False,
                                check=refused_before_the_sweep(*o.replace("=", " ").split()))
                        for o in ("--foo", "--priority", "--priority 0", "--priority 1x", "--cpu 100000",
                                  "--longest -1", "--longest 10001", "--duration 8", "--interval=2d",
                                  "--samples=1", "--json --json", "--json=/nonexistent/p.json",
                                  "--log /nonexistent/p.log")]
                       + [profile(a, status=255, stdout=b"", trace="", quiet=False, check=refused_before_the_sweep("-p"))
                          for a in ("50 1000 25 35 0 -p 80 -a 1 -m", "-p 80 1000 1000 25 35")]
                       + [profile("1 2 3 --json", status=255, trace="", check=lambda r: None if PROFILE_USAGE.match(
                           r["stdout"]) else "not the profile's usage: %r" % r["stdout"]),
                          # "--" ends the options: --json is the fifth parameter, the profile text.
                          profile("3 0 25 35 -- --json", check=lambda r: None if r["stdout"].startswith(
                              b"total execution time is") else "not the text profile: %r" % r["stdout"][:200]),
                          # plc_do_test's limit on iterations is not plc_do_profile's.
                          profile("10001 0 --json 25 35", check=lambda r: None if json.loads(
                              r["stdout"])["parameters"]["iter"] == 10001 else "iter not read as 10001")],
    # Asked for the usage text or the identity line: status 0, the controller untouched.
    "profile_help": [profile("--help", status=0, trace="", check=lambda r: None if PROFILE_USAGE.match(
                         r["stdout"]) else "not the profile's usage: %r" % r["stdout"]),
                     profile("3 0 25 35 --version", status=0, trace="", check=lambda r: None if re.fullmatch(
                         rb"plc_do_profile [^\n]+\n", r["stdout"]) else "not the identity line: %r" % r["stdout"])],
    # A timer slack of 1 ns asked for, obtained (at normal priority) and printed.
    "timer_slack": [profile("3 0 25 35 --json --timer-slack 1", check=lambda r: None if [
                        json.loads(r["stdout"])["system"].get(k) for k in
                        ("timer_slack_ns", "timer_slack_asked_ns", "timer_slack_refused")] == [1, 1, None]
                        else "timer slack not reported as obtained: %r" % r["stdout"][-700:]),
                    profile("3 0 25 35 --timer-slack 1", check=lambda r: None if b"\ntimer slack: 1 ns (1 ns asked for)\n"
                            in r["stdout"] else "no line of the timer slack obtained")],
    # A profile of no iteration shows no figures: none in the text, null in JSON, never zeros.
    "profile_empty": [profile("0 1000 25 35", check=lambda r: None if re.search(
                          rb"\ndelay +none +none +none +none +none +none +none\n", r["stdout"]) else "no none"),
                      profile("0 1000 25 35 --json", check=lambda r: None if [json.loads(r["stdout"])[k] for k in (
                          "delay", "write", "oversleep", "maximum")] == [None] * 4 else "figures of no iteration")],
    # At the first delay above --break: the trace marked and stopped (a tracefs stand-in), status 3.
    "profile_break": [profile("22 1000 25 35 --json --break 5999", env=SLOW_30_31, status=3, tracefs=True,
                              check=broke_at(5, 30, 6000))],
    # Delays above --limit (outputs 30 and 31, two in a row each cycle): status 3; none above: 1.
    "profile_limit": [profile("22 1000 25 35 --json --limit 5999", env=SLOW_30_31, status=3,
                              check=over_limit(4, 5, 17, 2, 5)),
                      profile("22 1000 25 35 --json --limit 6000", env=SLOW_30_31, status=1,
                              check=over_limit(0, None, None, None, None))],
    # A day of over 10 million iterations in virtual time: its counts exact, its memory that of its start.
    "profile_day": [profile("4294967295 7000 25 35 --json --duration 1d --interval 1h", env=SLOW_30_31,
                            check=a_day(7000, 25, 11, slow_30_31, 86400))],
    # INT, TERM and HUP stop a run of any length after the iteration under way: its profile printed
    # whole, its status 128 plus the signal's number. USR1 prints the profile so far, the run going on.
    "profile_stopped": [profile("4294967295 1000 25 35 --json --interval 1m --log log", status=128 + number,
                                signals=(name,), check=stopped_by(name))
                        for name, number in (("INT", 2), ("TERM", 15), ("HUP", 1))]
                       + [profile("4294967295 1000 25 35 --interval 1m --log log", status=130, quiet=False,
                                  signals=("USR1", "INT"), check=dumped)],
    # Every option of the usage text (the program's table) named in the docs and a fuzz seed.
    "options_named": [profile("1 2 3", status=255, trace="", check=options_named)],
    # A real-time priority refused to a user (the run goes on, the refusal reported), granted to root.
    "priority_refused": [profile("3 0 25 35 --json --priority 10", user="nobody",
                                 check=scheduled("SCHED_OTHER", 0, "EPERM"))],
    "priority_granted": [profile("3 0 25 35 --priority 10 --json --cpu 0", check=scheduled("SCHED_FIFO", 10, None))],
    # A lost report ends with 74 instead of 1 or 2 (into a pipe nobody reads, as `| true` leaves it: not
    # the SIGPIPE's 141); a refused command line stays 255.
    "lost_report": [run("3 1000 25 35 0", status=74, env=env, output=way)
                    for way in ("full", "closed", "pipe") for env in ({}, {"PLCSIM_OUTPUTS": "25-26"})]
                   + [run(a, status=255, output=way, virtual=False)
                      for a in ("1 2 3", "10001 0 25 35 0") for way in ("full", "pipe")]
                   + [profile("3 1000 25 35 --json", status=74, output=way, quiet=False, check=says_lost)
                      for way in ("full", "pipe")],
    # Started beside a libplc.so (the stand-in, which traces when loaded), the program must not load
    # it: 127 where the system has none, the system's own where it has one.
    "foreign_library": [run("3 0 25 35 0", status=None, virtual=False, output="elsewhere", quiet=False,
                            check=loads_no_local_library)],
    # The stand-in refuses a malformed setting before the program runs, naming it.
    "malformed_setting": [run("1 0 25 35 0", status=3, stdout=b"", virtual=False, env={name: value}, quiet=False,
                              check=lambda r, name=name: None if name.encode() in r["stderr"]
                              else name + ": the variable is not named")
                          for name, value in (("PLCSIM_REFUSE", "x"), ("PLCSIM_OUTPUTS", "30-25"),
                                              ("PLCSIM_WRITE_US", "-1"), ("PLCSIM_OUTPUTS", "25"),
                                              ("PLCSIM_SLOW", "30-31"), ("PLCSIM_SLOW", "31-30:5"))],
}


def read(path, mode="r"):
    return open(path, mode).read() if os.path.exists(path) else None


# What run_program.sh reads of a build: it may lie in a checkout other users cannot enter.
BUILD_FILES = ["emulator", "libplc.so", "libvirtual_time.so"]


def within_reach(work, build, program, run_program, runner):
    """Copies of what a run as another user reads, in WORK (which that user may enter): the build's
    files, the program, run_program.sh and every folder the runner names (a root of another C
    library). The checkout itself may be a folder only its owner enters (a home, mktemp -d)."""
    reach = os.path.join(work, "reach")
    copied_build = os.path.join(reach, "build")
    os.makedirs(copied_build)
    for name in BUILD_FILES:
        if os.path.exists(os.path.join(build, name)):
            shutil.copy2(os.path.join(build, name), copied_build)
    shutil.copy2(program, reach)
    shutil.copy2(run_program, reach)
    copied_runner = []
    for number, word in enumerate(runner):
        if os.path.isdir(word):
            word = shutil.copytree(word, os.path.join(reach, "runner%d" % number), symlinks=True)
        copied_runner.append(word)
    for folder, folders, files in os.walk(reach):
        os.chmod(folder, 0o755)
    return (copied_build, os.path.join(reach, os.path.basename(program)),
            os.path.join(reach, os.path.basename(run_program)), copied_runner)


def execute(want, build, program, runner, work):
    """Runs the program as its row WANT says, in a folder of its own in WORK."""
    work = tempfile.mkdtemp(dir=work)
    program = os.path.join(os.path.dirname(program), want["program"])
    run_program = os.path.join(HERE, "..", "support", "run_program.sh")
    if want["user"] and os.geteuid() == 0:
        # The user writes the stand-in's trace and the clock's record there.
        os.chmod(os.path.dirname(work), 0o711)
        os.chmod(work, 0o777)
        build, program, run_program, runner = within_reach(work, build, program, run_program, runner)
        user = pwd.getpwnam(want["user"])
        command = ["setpriv", "--reuid=%d" % user.pw_uid, "--regid=%d" % user.pw_gid, "--clear-groups",
                   "bash", run_program, build]
    else:
        command = ["bash", run_program, build]
    command += ["--virtual"] * want["virtual"] + (["--runner", *runner, "--"] if runner else [])
    env = dict(os.environ, **{name: value.format(work=work) for name, value in want["env"].items()})
    # With standard output closed, a file the stand-in or the clock opened would take its place.
    if want["output"] not in ("full", "closed", "pipe"):
        env.update(PLCSIM_TRACE=work + "/trace", VTIME_LOG=work + "/time")
    if want["output"] == "elsewhere":
        shutil.copy(program, work)
        shutil.copy(os.path.join(build, "libplc.so"), work)
        program = "./" + want["program"]
        command.append("--no-stand-in")
        env.pop("LD_LIBRARY_PATH", None)
    if want["tracefs"]:
        # tracefs' two files in the run's folder, named by PLC_TRACEFS.
        with open(work + "/trace_marker", "w"), open(work + "/tracing_on", "w") as tracing_on:
            tracing_on.write("1")
        env["PLC_TRACEFS"] = work
    if want["output"] == "closed":
        command = ["sh", "-c", 'exec "$@" >&-', "sh"] + command  # a shell closes it: no code runs in the fork
    unread, pipe = os.pipe()
    os.close(unread)
    with open("/dev/full", "wb") as full, open(pipe, "wb") as pipe:
        done = subprocess.Popen(command + [program, *want["args"]], env=env, cwd=work, stdin=subprocess.DEVNULL,
                                stdout={"full": full, "closed": None, "pipe": pipe}.get(want["output"],
                                                                                        subprocess.PIPE),
                                stderr=subprocess.PIPE)
        if want["signals"]:
            send_signals(done, work + "/log", want["signals"])
        out, err = done.communicate()
    return dict(args=want["args"], status=done.returncode, stdout=out or b"", stderr=err,
                trace=read(work + "/trace"), time=read(work + "/time"),
                locked=read(work + "/locked", "rb") or b"", trace_file=work + "/trace", program=program,
                emulated=bool(runner) or os.path.exists(os.path.join(build, "emulator")))


def send_signals(process, log, names):
    """Sends the signals NAMES to PROCESS once its LOG holds a line (at most 120 s on), 0.3 s apart."""
    import signal
    for _ in range(1200):
        if os.path.exists(log) and os.path.getsize(log) or process.poll() is not None:
            break
        time.sleep(0.1)
    for name in names:
        if process.poll() is None:
            process.send_signal(getattr(signal, "SIG" + name))
        time.sleep(0.3)


def faults_of(want, result):
    """What the run did other than its row WANT expects."""
    faults = []
    if want["status"] is not None and result["status"] != want["status"]:
        faults.append("exit status %d, expected %d" % (result["status"], want["status"]))
    if want["quiet"] and result["stderr"]:
        faults.append("standard error is not empty: %r" % result["stderr"][:400])
    if want["stdout"] is not None and result["stdout"] != want["stdout"]:
        faults.append("standard output differs:\n  got      %r\n  expected %r" % (result["stdout"][:600],
                                                                                  want["stdout"][:600]))
    if want["trace"] is not None and result["trace"] != want["trace"]:
        got = (result["trace"] or "(none)")[:400]
        faults.append("trace differs:\n  got      %r\n  expected %r" % (got, want["trace"][:400]))
    if want["virtual"] and want["output"] not in ("full", "closed", "pipe"):
        if result["time"] is None:
            return faults + ["no record of the virtual clock: it was not loaded"]
        events = result["time"].splitlines()
        # plc_do_profile reads the wall clock once, at the sweep's start, for its times of day.
        wall = ["gettimeofday"] * (os.path.basename(result["program"]) == "plc_do_profile")
        other = sorted({e for e in events if e.split()[0] not in ("pause", "sleep", "not_recorded")
                        and e != "clock 1"} - set(wall))
        if other:
            faults.append("readings of another clock than the monotonic one: %s" % other)
        if want["pauses"]:
            count, us = want["pauses"]
            paused = [e for e in events if e.startswith("pause ")]
            exact = paused.count("pause %d" % us)
            if len(paused) != count or exact != count:
                faults.append("%d pauses, %d of them of %d us; expected %d of %d us" % (len(paused), exact, us,
                                                                                        count, us))
    return faults + list(filter(None, [want["check"] and want["check"](result)]))


def outcome(case, build, program, runner, work):
    """PASS or FAIL, and why, of every run of CASE."""
    for number, want in enumerate(CASES[case], 1):
        faults = faults_of(want, execute(want, build, program, runner, work))
        if faults:
            return "FAIL [%s, run %d: %s]:\n  %s" % (case, number, " ".join(want["args"]) or "no arguments",
                                                   "\n  ".join(faults))
    return "PASS [%s]" % case


def cannot_run(case):
    """Why CASE cannot run here, or None."""
    if case == "priority_granted" and os.geteuid() != 0:
        return "[priority_granted] not root, so the program may not run at a real-time priority"
    if case != "memory_locked":
        return None
    if os.geteuid() != 0:
        return "[memory_locked] not root, so the program may not lock its memory"
    try:
        import elftools  # noqa: F401 (the log is found through the program's sections)
    except ImportError:
        return "[memory_locked] no pyelftools to find the log in the program (apt-get install python3-pyelftools)"
    return None


def main(argv):
    if argv[1:2] == ["--list"]:
        only_kinds = argv[2:] == ["kinds"]
        print("\n".join(name for name, runs in CASES.items() if runs[0]["kinds"] or not only_kinds))
        return 0
    name, build, program, runner = argv[1], os.path.abspath(argv[2]), os.path.abspath(argv[3]), argv[4:]
    if name not in CASES and name != "all":
        return "unknown case " + name
    cases = list(CASES) if name == "all" else [name]
    for case in [case for case in cases if cannot_run(case)]:
        if name != "all":
            return subprocess.call(["bash", "-c", '. "$1" && skip "$2"', "--",
                                    os.path.join(HERE, "..", "support", "skip.sh"), cannot_run(case)])
        print("SKIPPED " + cannot_run(case))
        cases.remove(case)
    # All cases at once on every core, each its runs in turn.
    with tempfile.TemporaryDirectory() as work, concurrent.futures.ThreadPoolExecutor(os.cpu_count()) as pool:
        outcomes = list(pool.map(lambda case: outcome(case, build, program, runner, work), cases))
    print("\n".join(outcomes))
    return 1 if any(line.startswith("FAIL") for line in outcomes) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
