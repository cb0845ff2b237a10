"""A row per controller from Ansible's results of the play's steps on it."""
import math
import re
from dataclasses import dataclass
from typing import Optional

from .parameters import Criteria, criteria_of, profile_options
from .profiles import take_profile
from .text import CHOICE, KEY_LEARNT, first_line, said, shown
from .verdicts import VERDICTS, fill, judged

# The controller-side wrapper's own words: its run folder on starting, and the
# file it writes last, after the run (key value, one a line).
RUN_FOLDER = re.compile(r"^plc_do_test fleet: run folder (.+)$", re.M)
ENDED = re.compile(r"^(started|ended|stopped|status) (\d+)$", re.M)
# Ansible's words when it reached a controller but could not make its folder there.
NO_REMOTE_TMP = re.compile(r"Failed to create temporary directory")
MKDIR_SAID = re.compile(r'mkdir -p "` echo (\S+) `".*exited with result (\d+)(?:, stdout output: .*?)?(?:, stderr output: (.*))?\Z',
                        re.S)


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
    history: Optional[dict] = None  # against its past runs (plc_history), None without a record
    pc_started: Optional[float] = None  # the PC's monotonic clock after the run's start and after its end
    pc_ended: Optional[float] = None

    @property
    def kind(self):
        return VERDICTS[self.verdict]


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


def pc_clock(clock):
    """The PC's monotonic times the play took around the run, where it took
    both (a run collected by a later play has no start of this PC's)."""
    try:
        started, ended = float(clock["started"]), float(clock["ended"])
    except (TypeError, KeyError, ValueError):
        return {}
    return {"pc_started": started, "pc_ended": ended} if math.isfinite(started) and math.isfinite(ended) else {}


def row_of(host, run, known):
    """One controller's row from the play's three steps on it: the start (the
    wrapper's run folder), the wait for its end (the wrapper's file written
    after the run) and what the run printed."""
    row = Row(host, " ".join(str(run.get(name)) for name in ("iter", "delay", "first", "last")),
              criteria_of(run), profile_asked=bool(run.get("profile")),
              profile_options=profile_options(run), **pc_clock(run.get("clock")))
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
    problem = ""
    if row.profile_asked:
        # The identity of what ran: the profile's own, none without one.
        row.identity = None
        problem = take_profile(row)
    judged(row, facts.get("stopped"))
    if problem and row.verdict == "no report":
        return fill(row, "no report", "status %s, no report: a profile results.py cannot read (%s)" % (row.status, problem))
    if row.profile_asked and row.profile is None and row.verdict in ("pass", "fail", "write refused"):
        # A run that ended as a profiled run ends, yet printed no profile: a
        # single file older than plc_do_profile runs plc_do_test, which reads
        # --profile as 0 iterations.
        words = first_line(row.stdout) or first_line(said(row.stderr)) or "nothing printed"
        return fill(row, "no report", "no profile in what it printed (a single file without plc_do_profile?): " + words)
    return row
