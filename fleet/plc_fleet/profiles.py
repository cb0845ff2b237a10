"""plc_do_profile's JSON: whether what came is a profile, kept whole on its row."""
import json

FIGURES = ["delay", "write", "oversleep"]
PERCENTILES = ["min", "median", "p90", "p99", "p99_9", "max", "mean"]


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
            and all(profile.get(figure, {}) is None or records_of([profile.get(figure)], PERCENTILES)
                    for figure in FIGURES)
            and records_of(profile.get("outputs", []), ("output", "writes", "write_min", "write_mean", "write_max",
                                                         "longest_delay"))
            and records_of(profile.get("longest", []), ("iteration", "at_ms", "output", "value", "attempts",
                                                         "write_us", "oversleep_us", "delay_us"))
            and isinstance(profile.get("histogram", []), list)
            and all(isinstance(item, list) and len(item) == 2 and (item[0] is None or is_number(item[0]))
                    and is_number(item[1]) for item in profile.get("histogram", [])))



def figure_of(profile, figure, name):
    """A figure of the profile, or None where it has none (a run that completed no iteration)."""
    return (profile.get(figure) or {}).get(name)


def slowest_outputs(profile):
    return sorted(profile.get("outputs") or [], key=lambda output: (-output["write_max"], output["output"]))
