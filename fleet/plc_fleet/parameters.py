"""A controller's run parameters as the program reads them, and its criteria."""
import json
import re
from dataclasses import dataclass
from typing import Optional

CLASSES = ["<20ms", "20..30ms", "30..40ms", ">40ms"]
# plc_do_profile's options by the play's names (plc_NAME), as it takes them.
PROFILE_OPTIONS = {"priority": "--priority", "cpu": "--cpu", "duration": "--duration", "interval": "--interval",
                   "limit_us": "--limit"}
# A duration as plc_do_profile reads it: a whole number and its unit.
DURATION = re.compile(r"([0-9]+)([smhd])")
UNIT_S = {"s": 1, "m": 60, "h": 3600, "d": 86400}


class BadInput(Exception):
    pass


def strtoul(text):
    """An unsigned 32-bit parameter as the C library's strtoul with base 0
    reads it in the C locale: blanks (isspace's six alone, no other Unicode
    space), one sign, 0x for hexadecimal, 0 for octal, up to the first
    character that is no digit; the largest value on overflow."""
    number = re.match(r"[ \t\n\v\f\r]*([+-]?)(0[xX](?=[0-9a-fA-F])|0?)([0-9a-fA-F]*)", "" if text is None else str(text))
    sign, prefix, digits = number.groups()
    base = 16 if prefix.lower() == "0x" else 8 if prefix == "0" else 10
    digits = re.match({16: r"[0-9a-fA-F]*", 8: r"[0-7]*", 10: r"[0-9]*"}[base], digits)[0]
    value = int(digits, base) if digits else 0
    if value > 0xFFFFFFFF:
        return 0xFFFFFFFF
    return (-value) % (1 << 32) if sign == "-" else value


def check_numbers(host, given):
    """The run's parameters are text (or whole numbers, as YAML reads them):
    the program reads any text as a number, but no list, mapping or truth
    value is one."""
    for name in ("iter", "delay", "first", "last"):
        if isinstance(given.get(name), (bool, float, list, dict)):
            raise BadInput("plc_%s must be a number as the program reads it (1000, 0x3e8, 01750), not %s (%s)"
                           % (name, json.dumps(given[name]), host))


def profile_options(given):
    """plc_do_profile's options as given, in the play's order: " --priority 80 --duration 8h"."""
    return "".join(" %s %s" % (option, given[name]) for name, option in PROFILE_OPTIONS.items()
                   if given.get(name) not in (None, ""))


def duration_s(text):
    """A duration's seconds (8h: 28800); None where not given or not one
    (check_profile_options refuses it)."""
    duration = DURATION.fullmatch("" if text is None else str(text))
    if not duration:
        return None
    return int(duration[1]) * UNIT_S[duration[2]]


def check_profile_options(host, given):
    """plc_duration and plc_interval as plc_do_profile reads them (8h, 30s),
    plc_limit_us a whole number of microseconds."""
    for name in ("duration", "interval"):
        if given.get(name) not in (None, "") and not DURATION.fullmatch(str(given[name])):
            raise BadInput("plc_%s must be a whole number followed by s, m, h or d (8h), not %r (%s)"
                           % (name, given[name], host))
    limit = given.get("limit_us")
    if limit not in (None, "") and (isinstance(limit, bool) or not str(limit).isdigit()):
        raise BadInput("plc_limit_us must be a whole number of microseconds, not %r (%s)" % (limit, host))


def run_limit_s(parameters):
    """Seconds after which the controller stops a run: twice its pauses, 50 ms
    for each write, and 60 s for starting; for plc_do_profile, which takes
    any count, no more than plc_duration (and one more iteration) where
    given; plc_run_limit_s when given."""
    given = parameters.get("run_limit_s")
    if given not in (None, ""):
        limit = strtoul(str(given))
        if not str(given).strip().isdigit() or limit == 0:
            raise BadInput("plc_run_limit_s must be a whole number of seconds above 0, not %r" % given)
        return limit
    iterations, delay = strtoul(parameters.get("iter")), strtoul(parameters.get("delay"))
    profiled = bool(parameters.get("profile"))
    if iterations > 10000 and not profiled:  # refused by plc_do_test at once
        return 60
    by_iterations = (2 * iterations * delay + iterations * 50000) // 1000000
    duration = duration_s(parameters.get("duration")) if profiled else None
    if duration is None:
        return by_iterations + 60
    # plc_do_profile ends at whichever comes first; after the duration one
    # more iteration may end.
    return min(by_iterations, duration + (2 * delay + 50000) // 1000000) + 60



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
