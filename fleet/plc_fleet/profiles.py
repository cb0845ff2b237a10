"""plc_do_profile's JSON: whether what came is a profile, kept whole on its row."""
import json
import math

FIGURES = ["delay", "write", "oversleep"]
PERCENTILES = ["min", "median", "p90", "p99", "p99_9", "max", "mean"]
OUTPUT_KEYS = ("output", "writes", "write_min", "write_mean", "write_max", "longest_delay")
# A profile is three levels deep; what is deeper is no profile.
NESTING = 16
LONGEST_KEYS = ("iteration", "at_ms", "output", "value", "attempts", "write_us", "oversleep_us", "delay_us")


def take_profile(row):
    """plc_do_profile's JSON on standard output: the profile kept whole, its
    report judged as plc_do_test's, its identity the row's. What keeps JSON
    (or text that begins as JSON) from being a profile, in words; "" for a
    profile or plain text."""
    try:
        profile = json.loads(row.stdout)
    except (ValueError, RecursionError) as fault:
        return "not JSON: %s" % (fault if isinstance(fault, ValueError) else "nested too deep") \
            if row.stdout.lstrip().startswith(("{", "[")) else ""
    problem = profile_problem(profile)
    if not problem:
        row.profile, row.stdout = profile, profile["report"]
        row.identity = profile.get("identity")
    return problem


def is_number(value):
    """A finite number: JSON's NaN and infinities (Python reads them, and
    1e999 as an infinity) are none, so that none reaches a view."""
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def record_problem(record, keys, name):
    if not isinstance(record, dict):
        return "%s is no object" % name
    return next(("%s.%s is no finite number" % (name, key) for key in keys if not is_number(record.get(key))), "")


def records_problem(items, keys, name):
    if not isinstance(items, list):
        return "%s is no list" % name
    return next(filter(None, (record_problem(item, keys, "%s[%d]" % (name, at)) for at, item in enumerate(items))), "")


def histogram_problem(bins):
    if not isinstance(bins, list):
        return "histogram is no list"
    return next(("histogram[%d] is no [bound, count]" % at for at, item in enumerate(bins)
                 if not (isinstance(item, list) and len(item) == 2 and (item[0] is None or is_number(item[0]))
                         and is_number(item[1]))), "")


def unwritable(value, path="", depth=0):
    """Where VALUE holds a NaN or an infinity, or is nested deeper than a
    profile (JSON's writer and this walk would run out of stack), in words;
    "" where it holds neither."""
    if isinstance(value, float) and not math.isfinite(value):
        return "NaN or an infinity at " + path.lstrip(".")
    if depth > NESTING:
        return "nested deeper than %d at %s" % (NESTING, path.lstrip("."))
    items = value.items() if isinstance(value, dict) else enumerate(value) if isinstance(value, list) else ()
    for key, item in items:
        found = unwritable(item, "%s.%s" % (path, key) if isinstance(key, str) else "%s[%d]" % (path, key), depth + 1)
        if found:
            return found
    return ""


def profile_problem(profile):
    """What keeps PROFILE from being one as plc_do_profile writes it, in
    every part the views read, in words; "" for a profile. Anything else is
    no profile, so that a controller printing other JSON is a row with its
    reason, never a lost view."""
    if not isinstance(profile, dict):
        return "no JSON object"
    system = profile.get("system", {})
    kinds = [("report", profile.get("report"), str), ("identity", profile.get("identity", ""), str),
             ("system", system, dict), ("system.kernel", system.get("kernel") if isinstance(system, dict) else None,
                                        (dict, type(None)))]
    problems = ["%s is %s" % (name, "no text" if kind is str else "no object") for name, value, kind in kinds
                if not isinstance(value, kind)]
    # A run that completed no iteration has null figures: a profile still.
    problems += [record_problem(profile.get(figure), PERCENTILES, figure) for figure in FIGURES
                 if profile.get(figure, {}) is not None]
    problems += [records_problem(profile.get("outputs", []), OUTPUT_KEYS, "outputs"),
                 records_problem(profile.get("longest", []), LONGEST_KEYS, "longest"),
                 histogram_problem(profile.get("histogram", []))]
    return next(filter(None, problems), "") or unwritable(profile)


def figure_of(profile, figure, name):
    """A figure of the profile, or None where it has none (a run that completed no iteration)."""
    return (profile.get(figure) or {}).get(name)


def slowest_outputs(profile):
    return sorted(profile.get("outputs") or [], key=lambda output: (-output["write_max"], output["output"]))
