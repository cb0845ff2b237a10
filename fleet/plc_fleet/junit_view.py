"""JUnit: one test suite for the play, a test case per controller."""
import re
import socket
from xml.etree import ElementTree

from .cells import cell_text, command_of, cut, profile_figures
from .history import HISTORY_COLUMNS, figures_of, history_cells
from .profiles import FIGURES, PERCENTILES, figure_of, slowest_outputs
from .text import said

# Each controller's text (its reason, report, standard error, Ansible's
# message) in a test case holds at most this many characters, what is cut
# marked: 500 controllers that print megabytes stay within what CI reads.
TEXT_CHARACTERS = 4000
# Characters XML 1.0 cannot hold, removed from controllers' text.
NOT_XML = re.compile("[^\t\n\r\x20-\ud7ff\ue000-\ufffd\U00010000-\U0010ffff]")


def xml_text(value):
    return NOT_XML.sub("", "" if value is None else str(value))


def run_seconds(row):
    """The run's time by the PC's monotonic clock, from after its start to
    after its end; a run the play did not start (collected) by the
    controller's clock; 0 where it did not run. Never below 0: a clock
    stepped back is no negative time."""
    if row.pc_started is not None:
        return round(max(0.0, row.pc_ended - row.pc_started), 3)
    return max(0, row.ended - row.started) if row.started is not None and row.ended is not None else 0


def play_seconds(rows):
    """The play's time by the PC's clock: its first run's start to its last
    run's end, as the runs go on together."""
    timed = [row for row in rows if row.pc_started is not None]
    return round(max(0.0, max(row.pc_ended for row in timed) - min(row.pc_started for row in timed)), 3) if timed else 0


def summary(profile):
    """A profile's figures as lines of text: what ran where, the percentiles,
    the slowest outputs and the longest delays."""
    system = profile.get("system") or {}
    lines = [profile.get("identity") or "", "kernel: %s %s" % ((system.get("kernel") or {}).get("release"),
                                                              (system.get("kernel") or {}).get("version")),
             "priority: " + str(profile_figures(profile)["priority"]),
             "(us)       " + "".join("%10s" % name for name in PERCENTILES)]
    for figure in FIGURES:
        lines.append("%-11s" % figure + "".join("%10s" % (figure_of(profile, figure, name) if profile.get(figure)
                                                           else "none") for name in PERCENTILES))
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
                                                              ": " + cut(row.reason, TEXT_CHARACTERS) if row.reason else "")]
    parts += [cut(row.stdout, TEXT_CHARACTERS, "\n")] if row.stdout else []
    parts += [summary(row.profile)] if row.profile else []
    parts += ["standard error:\n" + cut(said(row.stderr), TEXT_CHARACTERS, "\n")] if said(row.stderr) else []
    parts += ["Ansible: " + cut(row.msg, TEXT_CHARACTERS, "\n")] if row.msg and row.kind == "error" else []
    return "\n\n".join(part.rstrip("\n") for part in parts) + "\n"


def junit_kind(row):
    """A regression is a JUnit failure: JUnit knows no other kind."""
    return "failure" if row.kind == "regressed" else row.kind


def properties(case, row):
    """The run's figures as the case's properties, so that CI keeps their
    history: its longest and p99 delay, the previous run's and the
    baseline's (plc_history)."""
    longest, p99 = figures_of(row.profile, row.max_delay_ms)
    figures = dict(history_cells(row), max_delay_us=longest, p99_delay_us=p99)
    names = [name for name in ["max_delay_us", "p99_delay_us"] + HISTORY_COLUMNS[1:] if figures[name] is not None]
    if names:
        kept = ElementTree.SubElement(case, "properties")
        for name in names:
            ElementTree.SubElement(kept, "property", {"name": name, "value": str(figures[name])})


def write_junit(path, rows, when):
    kinds = [junit_kind(row) for row in rows]
    suite = ElementTree.Element("testsuite", {
        "name": "plc_do_test fleet", "tests": str(len(rows)), "failures": str(kinds.count("failure")),
        "errors": str(kinds.count("error")), "skipped": "0", "time": str(play_seconds(rows)),
        "timestamp": when.rstrip("Z"), "hostname": socket.gethostname()})
    for row in rows:
        case = ElementTree.SubElement(suite, "testcase", {
            "classname": "plc_do_test.fleet", "name": xml_text(row.host), "time": str(run_seconds(row))})
        properties(case, row)
        if row.kind != "pass":
            told = ElementTree.SubElement(case, junit_kind(row), {
                "type": row.verdict, "message": xml_text(row.verdict + (": " + cell_text(row.reason) if row.reason else ""))})
            told.text = xml_text(cut(row.reason or row.verdict, TEXT_CHARACTERS, "\n"))
        ElementTree.SubElement(case, "system-out").text = xml_text(case_text(row))
    ElementTree.indent(suite)
    ElementTree.ElementTree(suite).write(path, encoding="utf-8", xml_declaration=True)
