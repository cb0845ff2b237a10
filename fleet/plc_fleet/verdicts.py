"""Each verdict, its kind, and the verdict a run's status and report give."""
import re

from .parameters import CLASSES
from .text import first_line, said

REPORT = re.compile(r"total execution time is: (\d+)s\nnumber of delays:\n<20ms: (\d+)\n20\.\.30ms: (\d+)\n"
                    r"30\.\.40ms: (\d+)\n>40ms: (\d+)\nmaximum delay: (\d+)ms\n?\Z")
REFUSED = re.compile(r"output \d+ refused every write for 10 s; run stopped after \d+ of \d+ iterations")

# Every verdict, its kind and when it is given: the play passes only when every
# row's kind is "pass". failure: the program ran on the controller and the run
# failed (a JUnit failure); error: the program could not be run there at all
# (a JUnit error); regressed: a run that met its criteria yet is worse than
# its own baseline (history.py), a JUnit failure, listed before the others.
VERDICTS = {
    "regressed": "regressed",
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


def fill(row, verdict, reason=""):
    row.verdict, row.reason = verdict, reason
    return row


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

