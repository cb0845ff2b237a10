"""The rows' columns and cells as every view shows them."""
import dataclasses
import re

from .history import history_cells, history_columns
from .parameters import CLASSES
from .profiles import figure_of, slowest_outputs
from .text import shown

# A cell of the CSV and Markdown tables holds at most this many characters;
# what came in full is in the JSON.
CELL_CHARACTERS = 300

COLUMNS = ["host", "abi", "identity", "status", "total_s"] + CLASSES + ["max_delay_ms", "verdict", "reason"]
# With plc_profile, after max_delay_ms: figures of each profile.
PROFILE_COLUMNS = ["p99_delay_us", "p99_write_us", "slowest_output", "priority"]


def columns_of(rows):
    """The tables' columns: the profile's too where the run asked for
    profiles, the comparison's where the play had a record (plc_history)."""
    at = COLUMNS.index("max_delay_ms") + 1
    profiled = PROFILE_COLUMNS if any(row.profile_asked for row in rows) else []
    return COLUMNS[:at] + profiled + history_columns(rows) + COLUMNS[at:]


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
    return {"p99_delay_us": figure_of(profile, "delay", "p99"), "p99_write_us": figure_of(profile, "write", "p99"),
            "slowest_output": slowest["output"] if slowest else None, "priority": priority}


def cells(row, columns=COLUMNS):
    """A row's values by column, as the tables show them."""
    values = dataclasses.asdict(row)
    values.update(zip(CLASSES, row.counts or [None] * len(CLASSES)))
    values.update(profile_figures(row.profile))
    values.update(history_cells(row))
    return {column: values[column] for column in columns}


def cut(text, size, between=" "):
    """TEXT up to SIZE characters, what is cut marked with how much: the JSON
    keeps every controller's text whole."""
    if len(text) <= size:
        return text
    return text[:size] + between + "[... %d more characters, all in the JSON]" % (len(text) - size)


def cell_text(value):
    """A value as one line of at most CELL_CHARACTERS, control characters as
    \\xNN, what is cut marked with how much."""
    if value is None:
        return ""
    return cut(re.sub(r"[\x00-\x1f\x7f]", lambda c: "\\x%02x" % ord(c[0]), shown(str(value))), CELL_CHARACTERS)


def command_of(row):
    """The program and parameters the row's run was given."""
    if row.profile_asked:
        return "plc_do_profile %s 0 --json%s" % (row.parameters, row.profile_options)
    return "plc_do_test %s 0" % row.parameters


def the_same(values, what):
    """One value that all rows share, or the words for the JSON's."""
    return values.pop() if len(values) == 1 else "%s of each controller's, in the JSON" % what
