"""The page: its charts as inline SVG, from fleet/report.html.j2."""
import math
import os
import re

from . import history
from .cells import COLUMNS, PROFILE_COLUMNS, cell_text, cells, command_of, cut
from .parameters import CLASSES
from .profiles import FIGURES, PERCENTILES, slowest_outputs
from .text import said
from .verdicts import VERDICTS

# Worst first: regressions, failed runs, then runs that could not be made,
# then passes.
KIND_ORDER = {"regressed": 0, "failure": 1, "error": 2, "pass": 3}
# Each controller's text on the page (its reason, report, standard error,
# Ansible's message) holds at most this many characters, what is cut marked.
TEXT_CHARACTERS = 1000
# Sections of the first this many controllers, worst first: a plant of 500
# keeps a page under a megabyte that a browser shows at once.
SECTIONS = 60
# The plant chart's bars, each this wide, and its height (SVG units).
PLANT_BAR, PLANT_HEIGHT = 3, 120


def worst_first(rows):
    """The page's order: by kind, then the longest delay, longest first."""
    return sorted(rows, key=lambda row: (KIND_ORDER[row.kind], -(row.max_delay_ms or 0), row.host))



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
    # One path for every bar: the figures are in the table beside each chart.
    path = "".join("M%s %sh%dv%sh-%dz" % (bar["x"], bar["y"], bar["width"], bar["height"], bar["width"])
                   for bar in drawn if bar["height"])
    return {"bars": drawn, "path": path, "width": max(len(items) * width, width), "height": height}


def plant(rows):
    """The plant chart: each controller's longest delay, longest first, as a
    bar in its kind's colour, and its limit (plc_max_delay_ms) across it."""
    timed = sorted((row for row in rows if row.max_delay_ms is not None), key=lambda row: (-row.max_delay_ms, row.host))
    limits = [row.criteria.max_delay_ms for row in timed if row.criteria and row.criteria.max_delay_ms is not None]
    top = max([row.max_delay_ms for row in timed] + limits + [1])
    at_height = lambda value: round(PLANT_HEIGHT - PLANT_HEIGHT * value / top, 1)
    drawn = [{"host": row.host, "kind": row.kind, "value": row.max_delay_ms, "x": at * PLANT_BAR,
              "y": at_height(row.max_delay_ms), "height": round(PLANT_HEIGHT - at_height(row.max_delay_ms), 1)}
             for at, row in enumerate(timed)]
    limit = "".join("M%d %sh%d" % (at * PLANT_BAR, at_height(row.criteria.max_delay_ms), PLANT_BAR)
                    for at, row in enumerate(timed) if row.criteria and row.criteria.max_delay_ms is not None)
    above = [row for row in timed if row.criteria and row.criteria.max_delay_ms is not None
             and row.max_delay_ms > row.criteria.max_delay_ms]
    return {"bars": drawn, "limit": limit, "top": top, "bar": PLANT_BAR, "width": max(len(timed), 1) * PLANT_BAR,
            "height": PLANT_HEIGHT, "above": len(above), "limits": sorted(set(limits)),
            "median": timed[len(timed) // 2].max_delay_ms if timed else None}


def verdict_counts(rows):
    """How many controllers each verdict has, in the order of VERDICTS."""
    verdicts = [row.verdict for row in rows]
    return [{"verdict": verdict, "kind": kind, "count": verdicts.count(verdict)} for verdict, kind in VERDICTS.items()
            if verdict in verdicts]


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
        # One linear axis for the three, so that write and oversleep show
        # their shares of the delay.
        "percentiles": [{"figure": figure, "values": [profile[figure][name] for name in PERCENTILES],
                         "bars": bars([(name, profile[figure][name]) for name in PERCENTILES], 60, False,
                                      top=profile["delay"]["max"])}
                        for figure in FIGURES if profile.get(figure)],
        "outputs": bars([(str(output["output"]), output["longest_delay"]) for output in profile.get("outputs") or []],
                        100, False),
        "output_rows": profile.get("outputs") or [],
        "slowest": slowest_outputs(profile)[:3],
        "longest": profile.get("longest") or [],
        "system": profile.get("system") or {},
        "intervals": interval_charts(profile),
    }


def line(values, height, width, top=None):
    """A polyline through VALUES across WIDTH, from the bottom of HEIGHT up to
    TOP (the largest value), the last value marked; None values left out: a
    few bytes a point, for a trend of every controller of a plant."""
    if top is None:
        top = max((value for value in values if value is not None), default=0)
    step = width / max(len(values) - 1, 1)
    points = [("%g" % round(at * step, 1), "%g" % round(height - height * scaled(value, top, False), 1))
              for at, value in enumerate(values) if value is not None]
    return {"points": " ".join(",".join(point) for point in points), "last": points[-1] if points else None,
            "width": width, "height": height, "top": top, "baseline_y": None}


def past_charts(row):
    """A controller against its past (plc_history): its trend of the longest
    delay, its baseline drawn across it, and the figures."""
    if row.history is None:
        return None
    trend = [past["max_delay_us"] for past in row.history["trend"]]
    baseline = (row.history["baseline"] or {}).get("max_delay_us")
    drawn = line(trend, 30, 150, max((value for value in trend + [baseline] if value is not None), default=0))
    drawn["baseline_y"] = None if baseline is None else round(30 - 30 * scaled(baseline, drawn["top"], False), 1)
    return dict(row.history, chart=drawn, values=", ".join("-" if value is None else history.number(value)
                                                           for value in trend))


def interval_charts(profile):
    """A long profile's maximum over time, and its ten worst intervals; the
    words for intervals that cannot be read; None without intervals."""
    intervals = history.intervals_of(profile)
    if intervals in (None, "unreadable"):
        return intervals
    return {"max": line([interval["max"] for interval in intervals], 80, 400),
            "worst": sorted(intervals, key=lambda interval: -interval["max"])[:10], "count": len(intervals)}


def html(rows, when, record=None):
    """The page: the run, a row per controller worst first, and each one's
    profile or, without one, its report and reason."""
    import jinja2  # Ansible's own, on every machine that runs the play
    # The template beside results.py, in the playbook's folder.
    folder = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    environment = jinja2.Environment(loader=jinja2.FileSystemLoader(folder), autoescape=True,
                                     undefined=jinja2.StrictUndefined, trim_blocks=True, lstrip_blocks=True)
    # The table's cells as the CSV's: one line, cut with a mark.
    environment.filters["cut"] = cell_text
    # Control characters shown as \xNN, as in the tables; line feeds and tabs
    # kept; cut at TEXT_CHARACTERS.
    environment.filters["visible"] = lambda text: re.sub(
        r"[\x00-\x08\x0b-\x1f\x7f]", lambda c: "\\x%02x" % ord(c[0]),
        cut("" if text is None else str(text), TEXT_CHARACTERS, "\n"))
    shown_rows = [{"row": row, "cells": cells(row, COLUMNS + PROFILE_COLUMNS), "command": command_of(row),
                   "charts": charts(row.profile) if row.profile and at < SECTIONS else None,
                   "mini": bars(histogram_items(row.profile), 24, True, width=5) if row.profile else None,
                   "section": at < SECTIONS, "index": at + 1, "past": past_charts(row)}
                  for at, row in enumerate(worst_first(rows))]
    environment.filters["us"] = lambda value: "" if value is None else history.number(value)
    return environment.get_template("report.html.j2").render(
        when=when, rows=shown_rows, classes=CLASSES, percentiles=PERCENTILES,
        passed=sum(row.kind == "pass" for row in rows), counts=verdict_counts(rows), plant=plant(rows),
        sections=SECTIONS, text_characters=TEXT_CHARACTERS,
        parameters=sorted({command_of(row) for row in rows}), criteria=sorted({str(row.criteria) for row in rows}),
        profiled=any(row.profile_asked for row in rows), said=said, record=record,
        regressed=sum(row.kind == "regressed" for row in rows), baseline_runs=history.BASELINE_RUNS,
        factor=history.REGRESSION_FACTOR)
