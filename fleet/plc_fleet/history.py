"""The plant's record (plc_history): each play's JSON kept in a folder, and
each controller's run against its previous run and its own baseline."""
import datetime
import json
import math
import os
import re
import shutil
import statistics
from dataclasses import dataclass
from typing import Optional

from .profiles import is_number
from .verdicts import fill

# A controller's baseline: the median of its last BASELINE_RUNS completed
# runs in the record (fewer while the record holds fewer).
BASELINE_RUNS = 5
# A completed run regressed when its longest delay, or its p99 delay, is
# above REGRESSION_FACTOR times its baseline's.
REGRESSION_FACTOR = 1.5
# The page's trend: this many runs, this one the last.
TREND_RUNS = 20
# Runs that went to their end with a report: the runs a baseline is made of.
COMPLETED = ("pass", "fail", "regressed")
# A kept play: its JSON named by this machine's UTC time to the microsecond,
# so that the names sort as the plays ran.
KEPT_NAME = re.compile(r"^\d{8}T\d{6}\.\d{6}Z\.json$")
KEPT_TIME = "%Y%m%dT%H%M%S.%fZ.json"


@dataclass
class Past:
    """A controller's run in a kept play; None where it gave no figure."""
    play: str  # the kept file's name
    verdict: str
    max_delay_us: Optional[float]
    p99_delay_us: Optional[float]


@dataclass
class Record:
    """What the history folder held: each controller's past runs, oldest
    first, and a line for everything in it that could not be read."""
    folder: str
    pasts: dict
    notes: list
    plays: int = 0


def figure(value):
    return value if is_number(value) and math.isfinite(value) else None


def figures_of(profile, max_delay_ms):
    """The longest delay and the p99 delay in us: the profile's own where
    there is one, else the report's longest delay (whole ms)."""
    delay = profile.get("delay") if isinstance(profile, dict) else None
    if isinstance(delay, dict) and figure(delay.get("max")) is not None:
        return figure(delay.get("max")), figure(delay.get("p99"))
    longest = figure(max_delay_ms)
    return (longest * 1000 if longest is not None else None), None


def past_of(play, host, row):
    """A controller's run from a kept play's row; a reason where it is none."""
    if not isinstance(row, dict) or not isinstance(row.get("verdict"), str) or "max_delay_ms" not in row:
        return "%s: the row of %s has no verdict and longest delay (a file of an older release or another program?)" \
            % (play, host)
    if row["max_delay_ms"] is not None and figure(row["max_delay_ms"]) is None:
        return "%s: the longest delay of %s is no number: %s" % (play, host, json.dumps(row["max_delay_ms"])[:80])
    return Past(play, row["verdict"], *figures_of(row.get("profile"), row["max_delay_ms"]))


def read_play(folder, name, record):
    """One kept play's rows into the record; a note where it cannot be read."""
    try:
        with open(os.path.join(folder, name), encoding="utf-8") as file:
            play = json.load(file)
    except OSError as fault:
        return record.notes.append("%s: cannot be read (%s): left out" % (name, fault.strerror or fault))
    except ValueError as fault:
        return record.notes.append("%s: no JSON, truncated? (%s): left out" % (name, fault))
    if not isinstance(play, dict) or not play:
        return record.notes.append("%s: not a play's results (a JSON object by controller): left out" % name)
    record.plays += 1
    for host, row in play.items():
        past = past_of(name, host, row)
        if isinstance(past, str):
            record.notes.append(past + ": left out")
        else:
            record.pasts.setdefault(host, []).append(past)


def read_record(folder):
    """The kept plays in FOLDER, oldest first; a missing folder is an empty
    record, made when this play is kept."""
    record = Record(folder, {}, [])
    if not os.path.exists(folder):
        record.notes.append("%s: no such folder yet: made for this play, nothing to compare with" % folder)
        return record
    try:
        names = sorted(os.listdir(folder))
    except OSError as fault:
        record.notes.append("%s: cannot be read (%s): nothing compared" % (folder, fault.strerror or fault))
        return record
    for name in names:
        if KEPT_NAME.match(name):
            read_play(folder, name, record)
        else:
            record.notes.append("%s: not a kept play's name (%s): left out" % (name, KEPT_TIME))
    return record


def median(values):
    """The median, a whole number where it is one (as the figures are)."""
    values = [value for value in values if value is not None]
    middle = statistics.median(values) if values else None
    return int(middle) if middle is not None and middle == int(middle) else middle


def regression(now, baseline, what, runs):
    """Words for a figure above its baseline by more than the factor."""
    if now is None or baseline is None or now <= REGRESSION_FACTOR * baseline:
        return []
    runs = "the median of its last %d runs" % runs if runs > 1 else "its last completed run"
    return ["%s %s us, above %s times its baseline %s us (%s)" % (what, number(now), REGRESSION_FACTOR,
                                                                  number(baseline), runs)]


def number(value):
    return "%d" % value if value == int(value) else "%.1f" % value


def compared(row, pasts):
    """A row's figures against its past: the previous run, the baseline, the
    trend, and the words of any regression."""
    now_max, now_p99 = figures_of(row.profile, row.max_delay_ms)
    counted = [past for past in pasts if past.verdict in COMPLETED and past.max_delay_us is not None][-BASELINE_RUNS:]
    baseline = {"runs": len(counted), "plays": [past.play for past in counted],
                "max_delay_us": median(past.max_delay_us for past in counted),
                "p99_delay_us": median(past.p99_delay_us for past in counted)} if counted else None
    previous = vars(pasts[-1]).copy() if pasts else None
    trend = [{"play": past.play, "max_delay_us": past.max_delay_us} for past in pasts[-(TREND_RUNS - 1):]]
    words = []
    if baseline and row.verdict in ("pass", "fail"):
        words = (regression(now_max, baseline["max_delay_us"], "longest delay", len(counted))
                 + regression(now_p99, baseline["p99_delay_us"], "p99 delay", len(counted)))
    return {"max_delay_us": now_max, "p99_delay_us": now_p99, "previous": previous, "baseline": baseline,
            "trend": trend + [{"play": "this play", "max_delay_us": now_max}], "regression": words}


def compare(rows, record):
    """Each row against its past in the record: a completed run that passed
    and regressed is 'regressed'; a failed one keeps its verdict, the
    regression added to its reason."""
    for row in rows:
        row.history = compared(row, record.pasts.get(row.host, []))
        words = "; ".join(row.history["regression"])
        if words and row.verdict == "pass":
            fill(row, "regressed", words)
        elif words:
            row.reason += "; " + words


def keep(folder, results_json):
    """This play's JSON, copied into FOLDER (made where missing) under this
    machine's time; the note that says where, or why not."""
    name = datetime.datetime.now(datetime.timezone.utc).strftime(KEPT_TIME)
    try:
        os.makedirs(folder, exist_ok=True)
        with open(results_json, "rb") as source, open(os.path.join(folder, name), "xb") as kept:
            shutil.copyfileobj(source, kept)
    except OSError as fault:
        return "this play not kept in %s (%s: %s)" % (folder, fault.strerror or fault, fault.filename or folder)
    return "this play kept as %s" % os.path.join(folder, name)


HISTORY_COLUMNS = ["max_delay_us", "previous_max_delay_us", "baseline_max_delay_us", "previous_p99_delay_us",
                   "baseline_p99_delay_us", "baseline_runs"]


def history_cells(row):
    """The tables' figures of the comparison, by column."""
    history = row.history or {}
    previous, baseline = history.get("previous") or {}, history.get("baseline") or {}
    return dict(zip(HISTORY_COLUMNS, (history.get("max_delay_us"), previous.get("max_delay_us"),
                                      baseline.get("max_delay_us"), previous.get("p99_delay_us"),
                                      baseline.get("p99_delay_us"), baseline.get("runs"))))


def history_columns(rows):
    """The comparison's columns, where the play was compared with a record."""
    return HISTORY_COLUMNS if any(row.history is not None for row in rows) else []


INTERVAL_KEYS = ("at_s", "length_s", "iterations", "max", "p99", "exceedances")


def intervals_of(profile):
    """A long profile's intervals, each with its figures; None where the
    profile has none, "unreadable" where they are not as plc_do_profile
    writes them."""
    intervals = profile.get("intervals")
    if intervals is None:
        return None
    if not isinstance(intervals, list) or not all(
            isinstance(item, dict) and all(figure(item.get(key)) is not None for key in INTERVAL_KEYS)
            for item in intervals):
        return "unreadable"
    return intervals
