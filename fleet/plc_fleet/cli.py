"""The fleet's checks and table (docs/fleet.md).

  results.py check --single-file FILE [--given NAME] < PARAMETERS.json
      Before any controller is touched: the single file's full path, and each
      controller's run limit in seconds from its parameters as the program
      reads them, as JSON on standard output; its criteria checked. Status 2
      with words on bad input.
  results.py table --single-file FILE --out OUT [--history DIR] < RUNS.json
      Each controller's run (Ansible's results by host, with its parameters
      and criteria) as a row with its verdict, in OUT.csv and OUT.md,
      everything each printed (each profile whole) in OUT.json, the page
      OUT.html (fleet/report.html.j2) and the test results OUT.junit.xml;
      the Markdown table also on standard output. Status 1 when any
      controller did not pass, naming them on standard error. With
      --history, each controller against its past plays kept in DIR, and
      this play's OUT.json kept there (history.py); a line on standard
      output for what of DIR could not be read or written.

Status 2: bad options or input; 70: a fault of this program itself (its
traceback on standard error), never 1.
"""
import argparse
import datetime
import json
import os
import sys
import traceback

from .csv_view import write_csv
from .html_view import html
from .history import compare, keep, read_record
from .json_view import as_json
from .junit_view import write_junit
from .markdown_view import markdown
from .cells import cell_text
from .parameters import PROFILE_OPTIONS, BadInput, check_numbers, check_profile_options, criteria_of, run_limit_s
from .rows import Row, row_of
from .single_file import identities
from .verdicts import fill

SOFTWARE_FAULT = 70  # sysexits' EX_SOFTWARE


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
        check_numbers(host, given)
        criteria_of(given)
        check_profile_options(host, given)
        options = [name for name in PROFILE_OPTIONS if given.get(name) not in (None, "")]
        if options and not given.get("profile"):
            raise BadInput("plc_%s is plc_do_profile's: give -e plc_profile=true too (%s)" % (options[0], host))
    json.dump({"single_file": single_file,
               "run_limit_s": {host: run_limit_s(given) for host, given in hosts.items()}}, sys.stdout)
    print()
    return 0


def write_text(path, text):
    with open(path, "w", encoding="utf-8") as file:
        file.write(text)


def failed_lines(rows):
    return ["%s: %s (%s)%s" % (row.host, row.verdict, row.kind, ": " + row.reason if row.reason else "")
            for row in sorted(rows, key=lambda row: row.kind != "regressed") if row.kind != "pass"]


def refused_constant(constant):
    raise ValueError("%s is no number in JSON" % constant)


def runs_of(text):
    """The runs by host on standard input, as the play's last step writes
    them: a JSON object (strict: no NaN) of one object per controller."""
    try:
        runs = json.loads(text, parse_constant=refused_constant)
    except (ValueError, RecursionError) as fault:
        raise BadInput("the runs on standard input are not JSON: %s" % (fault or "nested too deep")) from None
    odd = next((host for host, run in runs.items() if not isinstance(run, (dict, type(None))))
               if isinstance(runs, dict) else iter(()), None)
    if not isinstance(runs, dict) or odd is not None:
        raise BadInput("the runs on standard input are no JSON object of runs by host%s"
                       % (" (%s: %s)" % (odd, cell_text(json.dumps(runs[odd]))) if odd is not None else ""))
    if not runs:
        raise BadInput("no controller's run on standard input")
    return runs


def out_folder(out):
    """The folder the results go to: there, and writable, before any is written."""
    folder = os.path.dirname(os.path.abspath(out)) if os.path.basename(out) else out
    if not os.path.basename(out) or not os.path.isdir(folder) or not os.access(folder, os.W_OK | os.X_OK):
        raise BadInput("no folder to write the results in: %s (--out %s)" % (folder, out))


def single_file_identities(single_file):
    """The single file's identity lines by ABI, and the words for a single
    file that cannot be read ("" where it can)."""
    try:
        return identities(single_file), ""
    except OSError:
        return {}, "no single file to read at %s" % os.path.abspath(single_file)
    except (ValueError, IndexError) as fault:
        return {}, "the single file %s is not plc_do_test's (%s)" % (os.path.abspath(single_file), fault)


def table(options):
    runs = runs_of(sys.stdin.read())
    out_folder(options.out)
    faults = []
    known, unreadable = single_file_identities(options.single_file)
    rows = [row_or_fault(host, runs[host] or {}, known, faults) for host in sorted(runs)]
    record = read_record(options.history) if options.history else None
    if record:
        compare(rows, record)
    when = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
    try:
        text = markdown(rows)
    except Exception:  # noqa: BLE001 - the other views still written, the fault told at the end
        faults.append(traceback.format_exc())
        text = "(no Markdown table: results.py failed on it, as said below)\n"
    views = {".csv": lambda path: write_csv(path, rows), ".md": lambda path: write_text(path, text),
             ".json": lambda path: write_text(path, json.dumps(as_json(rows), indent=1) + "\n"),
             ".html": lambda path: write_text(path, html(rows, when, record)),
             ".junit.xml": lambda path: write_junit(path, rows, when)}
    for suffix, write in views.items():
        try:
            write(options.out + suffix)
        except Exception:  # noqa: BLE001 - the other views still written, the fault told at the end
            faults.append(traceback.format_exc())
    if record:
        record.notes.append(keep(options.history, options.out + ".json"))
    print(text + "\n(%s)" % ", ".join(options.out + suffix for suffix in views))
    for note in record.notes if record else []:
        print("history: " + note)
    failed = failed_lines(rows)
    if failed:
        print("%d of %d controllers did not pass:\n" % (len(failed), len(rows)) + "\n".join(failed), file=sys.stderr)
    if faults:
        print("".join(faults), end="", file=sys.stderr)
        raise Fault("results.py failed %d times, the table written without what it could not read" % len(faults))
    if unreadable:
        raise BadInput(unreadable + ": the table written without identities")
    return 1 if failed else 0


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


class Parser(argparse.ArgumentParser):
    """Bad options in one line, as all bad input."""

    def error(self, message):
        raise BadInput("%s (results.py --help)" % message)


def options_of(arguments):
    parser = Parser(description=__doc__.split("\n\n")[0])
    steps = parser.add_subparsers(dest="step", required=True)
    checking = steps.add_parser("check")
    checking.add_argument("--single-file", required=True)
    checking.add_argument("--given", default="", help="plc_single_file as the play was given it")
    tabling = steps.add_parser("table")
    tabling.add_argument("--single-file", required=True)
    tabling.add_argument("--out", required=True)
    tabling.add_argument("--history", default="", help="the folder of past plays (plc_history); empty for none")
    return parser.parse_args(arguments)


def main(arguments):
    try:
        options = options_of(arguments)
        return (check if options.step == "check" else table)(options)
    except BadInput as fault:
        print("plc_do_test fleet: %s" % fault, file=sys.stderr)
        return 2
    except Exception as fault:  # noqa: BLE001 - any fault here is this program's, and says so
        if not isinstance(fault, Fault):
            traceback.print_exc()
        print("plc_do_test fleet: results.py failed (status %d), not a controller" % SOFTWARE_FAULT, file=sys.stderr)
        return SOFTWARE_FAULT
