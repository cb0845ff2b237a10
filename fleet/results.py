#!/usr/bin/env python3
"""The fleet's checks and table (docs/fleet.md).

  results.py check --single-file FILE [--given NAME] < PARAMETERS.json
      Before any controller is touched: the single file's full path, and each
      controller's run limit in seconds from its parameters as the program
      reads them, as JSON on standard output; its criteria checked. Status 2
      with words on bad input.
  results.py table --single-file FILE --out OUT < RUNS.json
      Each controller's run (Ansible's results by host, with its parameters
      and criteria) as a row with its verdict, in OUT.csv and OUT.md,
      everything each printed (each profile whole) in OUT.json, the page
      OUT.html (fleet/report.html.j2) and the test results OUT.junit.xml;
      the Markdown table also on standard output. Status 1 when any
      controller did not pass, naming them on standard error.

Status 2: bad options or input; 70: a fault of this program itself (its
traceback on standard error), never 1.
"""
import argparse
import csv
import dataclasses
import datetime
import json
import math
import os
import re
import socket
import sys
import traceback
from xml.etree import ElementTree
from dataclasses import dataclass
from typing import Optional

CLASSES = ["<20ms", "20..30ms", "30..40ms", ">40ms"]
REPORT = re.compile(r"total execution time is: (\d+)s\nnumber of delays:\n<20ms: (\d+)\n20\.\.30ms: (\d+)\n"
                    r"30\.\.40ms: (\d+)\n>40ms: (\d+)\nmaximum delay: (\d+)ms\n?\Z")
REFUSED = re.compile(r"output \d+ refused every write for 10 s; run stopped after \d+ of \d+ iterations")
CHOICE = re.compile(r"^plc_do_test: chose (\S+)", re.M)
# The controller-side wrapper's own words: its run folder on starting, and the
# file it writes last, after the run (key value, one a line).
RUN_FOLDER = re.compile(r"^plc_do_test fleet: run folder (.+)$", re.M)
ENDED = re.compile(r"^(started|ended|stopped|status) (\d+)$", re.M)
# ssh's note on a host key it has just learnt: not the controller's words.
KEY_LEARNT = re.compile(r"Warning: Permanently added \S+ \(\S+\) to the list of known hosts\.\r?\n?")
# Ansible's words when it reached a controller but could not make its folder there.
NO_REMOTE_TMP = re.compile(r"Failed to create temporary directory")
MKDIR_SAID = re.compile(r'mkdir -p "` echo (\S+) `".*exited with result (\d+)(?:, stdout output: .*?)?(?:, stderr output: (.*))?\Z',
                        re.S)

# Every verdict, its kind and when it is given: the play passes only when every
# row's kind is "pass". failure: the program ran on the controller and the run
# failed (a JUnit failure); error: the program could not be run there at all
# (a JUnit error).
VERDICTS = {
    "pass": "pass",
    "fail": "failure",
    "write refused": "failure",
    "stopped": "failure",
    "report lost": "failure",
    "parameters refused": "failure",
    "no report": "failure",
    "not started": "error",
    "unreachable": "error",
    "not run": "error",
    "no result": "error",
}

# A cell of the CSV and Markdown tables holds at most this many characters;
# what came in full is in the JSON.
CELL_CHARACTERS = 300
SOFTWARE_FAULT = 70  # sysexits' EX_SOFTWARE


@dataclass
class Row:
    """One controller's run: what it reported, and its verdict with the reason.
    None where the run gave nothing."""
    host: str
    parameters: str = ""  # ITER DELAY FIRST LAST as given
    criteria: Optional["Criteria"] = None
    verdict: str = "no result"
    reason: str = ""
    abi: Optional[str] = None
    identity: Optional[str] = None
    status: Optional[int] = None
    total_s: Optional[int] = None
    counts: Optional[list] = None  # one per class of CLASSES
    max_delay_ms: Optional[int] = None
    started: Optional[int] = None  # the controller's clock, seconds since 1970
    ended: Optional[int] = None
    stdout: Optional[str] = None  # what the program printed, as text that shows every byte
    stderr: Optional[str] = None
    msg: Optional[str] = None  # Ansible's message
    profile_asked: bool = False  # plc_profile: the run was plc_do_profile's, --json
    profile: Optional[dict] = None  # plc_do_profile's JSON, whole
    profile_options: str = ""  # " --priority N --cpu N" as given

    @property
    def kind(self):
        return VERDICTS[self.verdict]


# --- Parameters as the program reads them ---------------------------------

def strtoul(text):
    """An unsigned 32-bit parameter as the C library's strtoul with base 0
    reads it: white space, one sign, 0x for hexadecimal, 0 for octal, up to
    the first character that is no digit; the largest value on overflow."""
    number = re.match(r"\s*([+-]?)(0[xX](?=[0-9a-fA-F])|0?)([0-9a-fA-F]*)", "" if text is None else str(text))
    sign, prefix, digits = number.groups()
    base = 16 if prefix.lower() == "0x" else 8 if prefix == "0" else 10
    digits = re.match({16: r"[0-9a-fA-F]*", 8: r"[0-7]*", 10: r"[0-9]*"}[base], digits)[0]
    value = int(digits, base) if digits else 0
    if value > 0xFFFFFFFF:
        return 0xFFFFFFFF
    return (-value) % (1 << 32) if sign == "-" else value


def run_limit_s(parameters):
    """Seconds after which the controller stops a run: twice its pauses, 50 ms
    for each write, and 60 s for starting; plc_run_limit_s when given."""
    given = parameters.get("run_limit_s")
    if given not in (None, ""):
        limit = strtoul(str(given))
        if not str(given).strip().isdigit() or limit == 0:
            raise BadInput("plc_run_limit_s must be a whole number of seconds above 0, not %r" % given)
        return limit
    iterations, delay = strtoul(parameters.get("iter")), strtoul(parameters.get("delay"))
    if iterations > 10000:  # refused by the program at once
        return 60
    return (2 * iterations * delay + iterations * 50000) // 1000000 + 60


class BadInput(Exception):
    pass


@dataclass
class Criteria:
    """What a completed run's report must meet beside its status."""
    max_delay_ms: Optional[int] = None
    highest_class: str = ""

    def __str__(self):
        named = ["longest delay at most %d ms" % self.max_delay_ms] if self.max_delay_ms is not None else []
        named += ["no delay above %s" % self.highest_class] if self.highest_class else []
        return ", ".join(named) or "a completed run with its report"


def criteria_of(given):
    """A controller's criteria from plc_max_delay_ms and plc_highest_class."""
    longest, highest = given.get("max_delay_ms"), given.get("highest_class") or ""
    if longest not in (None, "") and not str(longest).strip().isdigit():
        raise BadInput("plc_max_delay_ms must be a whole number of milliseconds, not %r" % longest)
    if highest and highest not in CLASSES:
        raise BadInput("plc_highest_class must be one of %s, not %r" % (", ".join(CLASSES), highest))
    return Criteria(int(longest) if longest not in (None, "") else None, highest)


def check(options):
    """The play's first step: the single file, and every controller's limit."""
    single_file = os.path.abspath(os.path.expanduser(options.single_file))
    if not options.given:
        raise BadInput("give the single file for every controller: -e plc_single_file=plc_do_test-VERSION-linux-arm.run")
    if not os.path.isfile(single_file) or not os.access(single_file, os.R_OK):
        raise BadInput("no single file to read at %s (plc_single_file=%s)" % (single_file, options.given))
    hosts = json.load(sys.stdin)
    missing = sorted(host for host, given in hosts.items()
                     if any(given.get(name) in (None, "") for name in ("iter", "delay", "first", "last")))
    if missing:
        raise BadInput("give the run's parameters: -e plc_iter=1000 -e plc_delay=20000 -e plc_first=25 "
                       "-e plc_last=35 (missing for %s)" % ", ".join(missing))
    for host, given in sorted(hosts.items()):
        criteria_of(given)
        options = [name for name in ("priority", "cpu") if given.get(name) not in (None, "")]
        if options and not given.get("profile"):
            raise BadInput("plc_%s is plc_do_profile's: give -e plc_profile=true too (%s)" % (options[0], host))
    json.dump({"single_file": single_file,
               "run_limit_s": {host: run_limit_s(given) for host, given in hosts.items()}}, sys.stdout)
    print()
    return 0


# --- The single file --------------------------------------------------------

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


# --- Text as it came --------------------------------------------------------

def shown(text):
    """Text from Ansible as text that shows every byte that came: Ansible
    hands undecodable bytes on as lone surrogates (or already replaced by
    U+FFFD); each such byte is written \\xNN."""
    if text is None:
        return None
    if not isinstance(text, str):
        text = json.dumps(text)
    try:
        data = text.encode("utf-8", "surrogateescape")
    except UnicodeEncodeError:
        data = text.encode("utf-8", "surrogatepass")
    return data.decode("utf-8", "backslashreplace")


def first_line(text):
    return next((line.strip() for line in (text or "").splitlines() if line.strip()), "")


def said(stderr):
    """What the launcher, the loader or the program said, without ssh's notes
    and the launcher's choice."""
    return "\n".join(line for line in KEY_LEARNT.sub("", stderr or "").splitlines() if not CHOICE.match(line))


# --- Rows from Ansible's results ---------------------------------------------

def unreachable_reason(message):
    """Ansible's words for an unreached host, on one line."""
    return " ".join(KEY_LEARNT.sub("", message or "").split()) or "not reached over ssh"


def not_reached(row, result):
    """The row of a controller where a step of the play did not get through."""
    message = shown(result.get("msg")) or ""
    row.msg = message
    if NO_REMOTE_TMP.search(message):
        said = MKDIR_SAID.search(message)
        where = " in %s (status %s%s)" % (said[1], said[2], ": " + first_line(said[3]) if said[3] else "") if said else ""
        return fill(row, "not run", "reached, but Ansible could not make its folder%s: "
                    "give ansible_remote_tmp a folder it can write" % where)
    return fill(row, "unreachable", unreachable_reason(message))


def fill(row, verdict, reason=""):
    row.verdict, row.reason = verdict, reason
    return row


def row_of(host, run, known):
    """One controller's row from the play's three steps on it: the start (the
    wrapper's run folder), the wait for its end (the wrapper's file written
    after the run) and what the run printed."""
    row = Row(host, " ".join(str(run.get(name)) for name in ("iter", "delay", "first", "last")),
              criteria_of(run), profile_asked=bool(run.get("profile")),
              profile_options="".join(" --%s %s" % (name, run[name]) for name in ("priority", "cpu")
                                      if run.get(name) not in (None, "")))
    start, ended, output = (run.get(step) or {} for step in ("start", "ended", "output"))
    if not start:
        return fill(row, "no result", "the play did not run on it")
    if start.get("unreachable"):
        return not_reached(row, start)
    folder = RUN_FOLDER.search(shown(start.get("stdout")) or "")
    if not folder:
        words = first_line(said(shown(start.get("stderr")))) or first_line(shown(start.get("msg")))
        row.stderr, row.msg = shown(start.get("stderr")), shown(start.get("msg"))
        return fill(row, "not run", "the run did not start" + (": " + words if words else ""))
    if ended.get("unreachable") or output.get("unreachable"):
        return not_reached(row, ended if ended.get("unreachable") else output)
    facts = {key: int(value) for key, value in ENDED.findall(shown(ended.get("stdout")) or "")}
    if "status" not in facts:
        words = first_line(shown(ended.get("stdout"))) or first_line(shown(ended.get("msg")))
        return fill(row, "no result", "no end of the run in %s seen%s" % (folder[1], ": " + words if words else ""))
    row.started, row.ended, row.status = facts.get("started"), facts.get("ended"), facts["status"]
    row.stdout = shown(output.get("stdout")) or ""
    row.stderr = KEY_LEARNT.sub("", shown(output.get("stderr")) or "", count=1)
    row.msg = shown(output.get("msg"))
    choice = CHOICE.search(row.stderr)
    if choice:
        row.abi = choice[1]
        row.identity = known.get(choice[1], "")
    if row.profile_asked:
        # The identity of what ran: the profile's own, none without one.
        row.identity = None
        take_profile(row)
    judged(row, facts.get("stopped"))
    if row.profile_asked and row.profile is None and row.verdict in ("pass", "fail", "write refused"):
        # A run that ended as a profiled run ends, yet printed no profile: a
        # single file older than plc_do_profile runs plc_do_test, which reads
        # --profile as 0 iterations.
        words = first_line(row.stdout) or first_line(said(row.stderr)) or "nothing printed"
        return fill(row, "no report", "no profile in what it printed (a single file without plc_do_profile?): " + words)
    return row


def take_profile(row):
    """plc_do_profile's JSON on standard output: the profile kept whole, its
    report judged as plc_do_test's, its identity the row's."""
    try:
        profile = json.loads(row.stdout)
    except ValueError:
        return
    if profile_shaped(profile):
        row.profile, row.stdout = profile, profile["report"]
        row.identity = profile.get("identity")


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def records_of(items, keys):
    """Whether ITEMS is a list of objects, each with a number under every key."""
    return isinstance(items, list) and all(isinstance(item, dict) and all(is_number(item.get(key)) for key in keys)
                                           for item in items)


def profile_shaped(profile):
    """Whether what came is a profile as plc_do_profile writes it, in every
    part the views read: anything else is no profile, so that a controller
    printing some other JSON is a row with its reason, never a lost table."""
    return (isinstance(profile, dict) and isinstance(profile.get("report"), str)
            and isinstance(profile.get("identity", ""), str) and isinstance(profile.get("system", {}), dict)
            and all(records_of([profile.get(figure)], PERCENTILES) for figure in FIGURES)
            and records_of(profile.get("outputs", []), ("output", "writes", "write_min", "write_mean", "write_max",
                                                         "longest_delay"))
            and records_of(profile.get("longest", []), ("iteration", "at_ms", "output", "value", "attempts",
                                                         "write_us", "oversleep_us", "delay_us"))
            and isinstance(profile.get("histogram", []), list)
            and all(isinstance(item, list) and len(item) == 2 and (item[0] is None or is_number(item[0]))
                    and is_number(item[1]) for item in profile.get("histogram", [])))


def judged(row, stopped):
    """A run that ended: its figures, and the verdict its status and report give."""
    report = REPORT.search(row.stdout)
    if report:
        total, *counts, longest = (int(figure) for figure in report.groups())
        row.total_s, row.counts, row.max_delay_ms = total, counts, longest
    if stopped is not None:
        return fill(row, "stopped", "no end within %d s: stopped on the controller" % stopped)
    status = row.status
    if status == 1 and report and report.start() == 0:
        faults = criteria_faults(row.counts, row.max_delay_ms, row.criteria)
        return fill(row, "fail" if faults else "pass", "; ".join(faults))
    if status == 1 and report:
        return fill(row, "no report", "status 1, the report after other output: " + first_line(row.stdout))
    if status == 2 and report:
        refused = REFUSED.search(row.stdout)
        return fill(row, "write refused", refused[0] if refused else first_line(row.stdout))
    if status == 74:
        return fill(row, "report lost", "the report could not be written (status 74)")
    if status == 255:
        return fill(row, "parameters refused", first_line(row.stdout) or "status 255")
    if status in (126, 127):
        words = first_line(said(row.stderr)) or "status %d" % status
        # The launcher's advice is for a shell; the play's word for TMPDIR:
        return fill(row, "not started", words + (" (in the play: plc_tmpdir)" if "TMPDIR" in words else ""))
    words = first_line(said(row.stderr)) or first_line(row.stdout)
    return fill(row, "no report", "status %s, no report%s" % (status, ": " + words if words else ""))


def criteria_faults(counts, longest, criteria):
    """What a completed run's figures break of the run's criteria."""
    faults = []
    if criteria.max_delay_ms is not None and longest > criteria.max_delay_ms:
        faults.append("longest delay %d ms, above %d ms" % (longest, criteria.max_delay_ms))
    if criteria.highest_class:
        above = CLASSES[CLASSES.index(criteria.highest_class) + 1:]
        over = ["%d %s" % (count, name) for name, count in zip(CLASSES, counts) if name in above and count]
        if over:
            faults.append("delays above %s: %s" % (criteria.highest_class, ", ".join(over)))
    return faults


# --- Views of the rows -------------------------------------------------------

COLUMNS = ["host", "abi", "identity", "status", "total_s"] + CLASSES + ["max_delay_ms", "verdict", "reason"]
# With plc_profile, after max_delay_ms: figures of each profile.
PROFILE_COLUMNS = ["p99_delay_us", "p99_write_us", "slowest_output", "priority"]


def columns_of(rows):
    """The tables' columns: the profile's too where the run asked for profiles."""
    if not any(row.profile_asked for row in rows):
        return COLUMNS
    at = COLUMNS.index("max_delay_ms") + 1
    return COLUMNS[:at] + PROFILE_COLUMNS + COLUMNS[at:]


def profile_figures(profile):
    """The profile's figures the tables show: p99 of delay and write, the
    output whose write took longest at worst, the priority obtained (and
    what was asked and refused)."""
    if profile is None:
        return dict.fromkeys(PROFILE_COLUMNS)
    system = profile.get("system") or {}
    slowest = (slowest_outputs(profile) or [None])[0]
    priority = "%s %s" % (system.get("policy"), system.get("priority"))
    if system.get("priority_refused"):
        priority += " (%s asked for: refused, %s)" % (system.get("priority_asked"), system["priority_refused"])
    return {"p99_delay_us": profile["delay"]["p99"], "p99_write_us": profile["write"]["p99"],
            "slowest_output": slowest["output"] if slowest else None, "priority": priority}


def cells(row, columns=COLUMNS):
    """A row's values by column, as the tables show them."""
    values = dataclasses.asdict(row)
    values.update(zip(CLASSES, row.counts or [None] * len(CLASSES)))
    values.update(profile_figures(row.profile))
    return {column: values[column] for column in columns}


def cell_text(value):
    """A value as one line of at most CELL_CHARACTERS, control characters as
    \\xNN, what is cut marked with how much."""
    if value is None:
        return ""
    text = re.sub(r"[\x00-\x1f\x7f]", lambda c: "\\x%02x" % ord(c[0]), shown(str(value)))
    if len(text) > CELL_CHARACTERS:
        text = text[:CELL_CHARACTERS] + " [... %d more characters, all in the JSON]" % (len(text) - CELL_CHARACTERS)
    return text


def csv_cell(value):
    """A spreadsheet takes a cell beginning with = + - @ (or a tab, a carriage
    return) for a formula: such text gets a leading apostrophe."""
    text = cell_text(value)
    return "'" + text if not isinstance(value, int) and re.match(r"[=+\-@\t\r]|\\x0[9d]", text) else text


def markdown_cell(value):
    """Escaped so that no text ends the row or its cell: backslash and |."""
    return cell_text(value).replace("\\", "\\\\").replace("|", "\\|")


def write_csv(path, rows):
    columns = columns_of(rows)
    with open(path, "w", newline="", encoding="utf-8") as file:
        writer = csv.writer(file)
        writer.writerow(columns)
        for row in rows:
            writer.writerow(csv_cell(value) for value in cells(row, columns).values())


def command_of(row):
    """The program and parameters the row's run was given."""
    if row.profile_asked:
        return "plc_do_profile %s 0 --json%s" % (row.parameters, row.profile_options)
    return "plc_do_test %s 0" % row.parameters


def the_same(values, what):
    """One value that all rows share, or the words for the JSON's."""
    return values.pop() if len(values) == 1 else "%s of each controller's, in the JSON" % what


def markdown(rows):
    parameters = the_same({"`%s`" % markdown_cell(command_of(row)) for row in rows}, "those")
    criteria = the_same({str(row.criteria) for row in rows}, "those")
    columns = columns_of(rows)
    lines = ["# plc_do_test on %d controllers" % len(rows), "",
             "Parameters: %s. Criteria: %s." % (parameters, markdown_cell(criteria)), "",
             "| " + " | ".join(columns) + " |", "|" + "---|" * len(columns)]
    for row in rows:
        lines.append("| " + " | ".join(markdown_cell(value) for value in cells(row, columns).values()) + " |")
    return "\n".join(lines) + "\n"


def as_json(rows):
    """Every row in full: its fields, the verdict's kind, what each printed."""
    return {row.host: dict(dataclasses.asdict(row), kind=row.kind, criteria=str(row.criteria),
                           counts=dict(zip(CLASSES, row.counts)) if row.counts else None) for row in rows}


def write_text(path, text):
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def failed_lines(rows):
    return ["%s: %s (%s)%s" % (row.host, row.verdict, row.kind, ": " + row.reason if row.reason else "")
            for row in rows if row.kind != "pass"]


def table(options):
    runs = json.load(sys.stdin)
    faults = []
    try:
        known = identities(options.single_file)
    except Exception:  # noqa: BLE001 - the rows without identities, the fault told at the end
        faults.append(traceback.format_exc())
        known = {}
    rows = [row_or_fault(host, runs[host] or {}, known, faults) for host in sorted(runs)]
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    try:
        text = markdown(rows)
    except Exception:  # noqa: BLE001 - the other views still written, the fault told at the end
        faults.append(traceback.format_exc())
        text = "(no Markdown table: results.py failed on it, as said below)\n"
    views = {".csv": lambda path: write_csv(path, rows), ".md": lambda path: write_text(path, text),
             ".json": lambda path: write_text(path, json.dumps(as_json(rows), indent=1) + "\n"),
             ".html": lambda path: write_text(path, html(rows, when)),
             ".junit.xml": lambda path: write_junit(path, rows, when)}
    for suffix, write in views.items():
        try:
            write(options.out + suffix)
        except Exception:  # noqa: BLE001 - the other views still written, the fault told at the end
            faults.append(traceback.format_exc())
    print(text + "\n(%s)" % ", ".join(options.out + suffix for suffix in views))
    failed = failed_lines(rows)
    if failed:
        print("%d of %d controllers did not pass:\n" % (len(failed), len(rows)) + "\n".join(failed), file=sys.stderr)
    if faults:
        print("".join(faults), end="", file=sys.stderr)
        raise Fault("results.py failed %d times, the table written without what it could not read" % len(faults))
    return 1 if failed else 0


# --- JUnit: one test suite for the play, a test case per controller --------

# Characters XML 1.0 cannot hold, removed from controllers' text.
NOT_XML = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def xml_text(value):
    return NOT_XML.sub("", "" if value is None else str(value))


def run_seconds(row):
    """The run's wall time on the controller's clock; 0 where it did not run."""
    return row.ended - row.started if row.started is not None and row.ended is not None else 0


def summary(profile):
    """A profile's figures as lines of text: what ran where, the percentiles,
    the slowest outputs and the longest delays."""
    system = profile.get("system") or {}
    lines = [profile.get("identity") or "", "kernel: %s %s" % ((system.get("kernel") or {}).get("release"),
                                                              (system.get("kernel") or {}).get("version")),
             "priority: " + str(profile_figures(profile)["priority"]),
             "(us)       " + "".join("%10s" % name for name in PERCENTILES)]
    for figure in FIGURES:
        lines.append("%-11s" % figure + "".join("%10s" % profile[figure][name] for name in PERCENTILES))
    for output in slowest_outputs(profile)[:3]:
        lines.append("output %s: write max %s us, longest delay %s us"
                     % (output["output"], output["write_max"], output["longest_delay"]))
    for late in (profile.get("longest") or [])[:3]:
        lines.append("iteration %s at %s ms, output %s: delay %s us (write %s, oversleep %s)"
                     % (late["iteration"], late["at_ms"], late["output"], late["delay_us"], late["write_us"],
                        late["oversleep_us"]))
    return "\n".join(lines)


def case_text(row):
    """A controller's test case's system-out: the run, its report, its
    profile's summary, what it said on standard error."""
    parts = ["command: %s\ncriteria: %s\nverdict: %s (%s)%s" % (command_of(row), row.criteria, row.verdict, row.kind,
                                                              ": " + row.reason if row.reason else "")]
    parts += [row.stdout] if row.stdout else []
    parts += [summary(row.profile)] if row.profile else []
    parts += ["standard error:\n" + said(row.stderr)] if said(row.stderr) else []
    parts += ["Ansible: " + row.msg] if row.msg and row.kind == "error" else []
    return "\n\n".join(part.rstrip("\n") for part in parts) + "\n"


def write_junit(path, rows, when):
    kinds = [row.kind for row in rows]
    suite = ElementTree.Element("testsuite", {
        "name": "plc_do_test fleet", "tests": str(len(rows)), "failures": str(kinds.count("failure")),
        "errors": str(kinds.count("error")), "skipped": "0", "time": str(sum(map(run_seconds, rows))),
        "timestamp": when.rstrip("Z"), "hostname": socket.gethostname()})
    for row in rows:
        case = ElementTree.SubElement(suite, "testcase", {
            "classname": "plc_do_test.fleet", "name": xml_text(row.host), "time": str(run_seconds(row))})
        if row.kind != "pass":
            told = ElementTree.SubElement(case, row.kind, {
                "type": row.verdict, "message": xml_text(row.verdict + (": " + cell_text(row.reason) if row.reason else ""))})
            told.text = xml_text(row.reason or row.verdict)
        ElementTree.SubElement(case, "system-out").text = xml_text(case_text(row))
    ElementTree.indent(suite)
    ElementTree.ElementTree(suite).write(path, encoding="utf-8", xml_declaration=True)


# --- HTML: the page, its charts as inline SVG (fleet/report.html.j2) ---------

FIGURES = ["delay", "write", "oversleep"]
PERCENTILES = ["min", "median", "p90", "p99", "p99_9", "max", "mean"]
# Worst first: failed runs, then runs that could not be made, then passes.
KIND_ORDER = {"failure": 0, "error": 1, "pass": 2}


def worst_first(rows):
    """The page's order: by kind, then the longest delay, longest first."""
    return sorted(rows, key=lambda row: (KIND_ORDER[row.kind], -(row.max_delay_ms or 0), row.host))


def slowest_outputs(profile):
    return sorted(profile.get("outputs") or [], key=lambda output: (-output["write_max"], output["output"]))


def scaled(value, top, logarithmic):
    """A value's share of the axis's height, 0..1: a logarithmic axis shows a
    single stray delay beside thousands of ordinary ones."""
    value, top = max(value or 0, 0), max(top or 0, 0)
    if top == 0:
        return 0
    return math.log2(1 + value) / math.log2(1 + top) if logarithmic else value / top


def bars(items, height, logarithmic, width=24, top=None):
    """Bars of (label, value) as rectangles on a bar's width each, from the
    bottom of HEIGHT up, the axis up to TOP (the largest value)."""
    top = max((value for _, value in items), default=0) if top is None else top
    drawn = []
    for at, (label, value) in enumerate(items):
        tall = round(height * scaled(value, top, logarithmic), 1)
        drawn.append({"label": label, "value": value, "x": at * width, "y": height - tall, "width": width - 2,
                      "height": tall})
    return {"bars": drawn, "width": max(len(items) * width, width), "height": height}


def histogram_items(profile):
    """The histogram's bins from the first to the last that holds a delay."""
    bins = profile.get("histogram") or []
    counted = [at for at, (_, count) in enumerate(bins) if count]
    kept = bins[:counted[-1] + 1] if counted else bins[:1]
    return [("<= %d us" % bound if bound is not None else "above", count) for bound, count in kept]


def charts(profile):
    """A profile's charts and their figures for the template."""
    return {
        "histogram": bars(histogram_items(profile), 120, True),
        "mini": bars(histogram_items(profile), 24, True, width=5),
        # One linear axis for the three, so that write and oversleep show
        # their shares of the delay.
        "percentiles": [{"figure": figure, "values": [profile[figure][name] for name in PERCENTILES],
                         "bars": bars([(name, profile[figure][name]) for name in PERCENTILES], 60, False,
                                      top=profile["delay"]["max"])}
                        for figure in FIGURES],
        "outputs": bars([(str(output["output"]), output["longest_delay"]) for output in profile.get("outputs") or []],
                        100, False),
        "output_rows": profile.get("outputs") or [],
        "slowest": slowest_outputs(profile)[:3],
        "longest": profile.get("longest") or [],
        "system": profile.get("system") or {},
    }


def html(rows, when):
    """The page: the run, a row per controller worst first, and each one's
    profile or, without one, its report and reason."""
    import jinja2  # Ansible's own, on every machine that runs the play
    folder = os.path.dirname(os.path.abspath(__file__))
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(folder), autoescape=True,
                                     undefined=jinja2.StrictUndefined, trim_blocks=True, lstrip_blocks=True)
    # The table's cells as the CSV's: one line, cut with a mark.
    environment.filters["cut"] = cell_text
    # Control characters shown as \xNN, as in the tables; line feeds and tabs kept.
    environment.filters["visible"] = lambda text: re.sub(
        r"[\x00-\x08\x0b-\x1f\x7f]", lambda c: "\\x%02x" % ord(c[0]), "" if text is None else str(text))
    shown_rows = [{"row": row, "cells": cells(row, COLUMNS + PROFILE_COLUMNS), "command": command_of(row),
                   "charts": charts(row.profile) if row.profile else None} for row in worst_first(rows)]
    return environment.get_template("report.html.j2").render(
        when=when, rows=shown_rows, classes=CLASSES, percentiles=PERCENTILES,
        passed=sum(row.kind == "pass" for row in rows),
        parameters=sorted({command_of(row) for row in rows}), criteria=sorted({str(row.criteria) for row in rows}),
        profiled=any(row.profile_asked for row in rows), said=said)


class Fault(Exception):
    """A fault of this program's, after the table is written."""


def row_or_fault(host, run, known, faults):
    """A controller's row; where this program fails on its result, a row that
    says so, the traceback kept for the end, and the other rows still made."""
    try:
        return row_of(host, run, known)
    except Exception as fault:  # noqa: BLE001 - this program's own fault, told at the end
        faults.append(traceback.format_exc())
        return fill(Row(host), "no result", "results.py failed on its result: %s: %s" % (type(fault).__name__, fault))


def options_of(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    steps = parser.add_subparsers(dest="step", required=True)
    checking = steps.add_parser("check")
    checking.add_argument("--single-file", required=True)
    checking.add_argument("--given", default="", help="plc_single_file as the play was given it")
    tabling = steps.add_parser("table")
    tabling.add_argument("--single-file", required=True)
    tabling.add_argument("--out", required=True)
    return parser.parse_args(arguments)


def main(arguments):
    options = options_of(arguments)
    try:
        return (check if options.step == "check" else table)(options)
    except BadInput as fault:
        print("plc_do_test fleet: %s" % fault, file=sys.stderr)
        return 2
    except Exception as fault:  # noqa: BLE001 - any fault here is this program's, and says so
        if not isinstance(fault, Fault):
            traceback.print_exc()
        print("plc_do_test fleet: results.py failed (status %d), not a controller" % SOFTWARE_FAULT, file=sys.stderr)
        return SOFTWARE_FAULT


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
