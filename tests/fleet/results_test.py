#!/usr/bin/env python3
"""The fleet's results.py on its own (docs/fleet.md): its parameters read as
the program reads them, its rows and verdicts from Ansible's results, and
every view's escaping. No root, Ansible or qemu: the play's end-to-end
rows are tests/fleet/fleet_test.sh's.
  tests/fleet/results_test.py [TEST...]
"""
import ast
import copy
import csv
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from xml.etree import ElementTree

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RESULTS = os.path.join(TOP, "fleet", "results.py")
CHECK_VIEWS = os.path.join(TOP, "tests", "fleet", "check_views.py")
STRTOUL_CASES = os.path.join(TOP, "tests", "support", "strtoul_cases.txt")
sys.path.insert(0, os.path.dirname(RESULTS))
sys.dont_write_bytecode = True  # nothing left in the source tree, whoever runs it
from plc_fleet import cells, csv_view, html_view, junit_view, markdown_view, parameters  # noqa: E402 - the package is found above
from plc_fleet.profiles import PERCENTILES  # noqa: E402 - the package is found above

REPORT = ("total execution time is: 0s\nnumber of delays:\n<20ms: 9\n20..30ms: 1\n30..40ms: 0\n>40ms: 0\n"
          "maximum delay: 21ms\n")
# plc_do_profile's JSON for REPORT, as docs/profile.md gives it.
PERCENTILE_FIGURES = {"min": 1000, "median": 1000, "p90": 1100, "p99": 20500, "p99_9": 20500, "max": 21000,
                      "mean": 3000.0}
PROFILE = {
    "report": REPORT, "identity": "plc_do_profile 1.0.0 armhf commit 0123456789ab",
    "system": {"kernel": {"release": "6.1.0", "version": "#1 SMP PREEMPT_RT"}, "cpus": 1, "policy": "SCHED_FIFO",
               "priority": 80, "priority_asked": 80, "priority_refused": None, "cpu": None, "cpu_asked": None,
               "cpu_refused": None, "memory_locked": True, "memory_lock_refused": None, "clock_resolution_ns": 1},
    "parameters": {"iter": 10, "delay": 1000, "start_DO_number": 25, "end_DO_number": 35, "use_safe_thread": 0,
                   "longest": 2, "iterations_done": 10, "refused_output": None},
    "delay": dict(PERCENTILE_FIGURES), "write": dict(PERCENTILE_FIGURES), "oversleep": dict(PERCENTILE_FIGURES),
    "histogram": [[1050 * 2 ** k, 9 if k == 0 else 1 if k == 4 else 0] for k in range(16)] + [[None, 0]],
    "outputs": [{"output": output, "writes": 1, "write_min": 1, "write_mean": 1.0, "write_max": output,
                 "longest_delay": 21000} for output in range(25, 36)],
    "longest": [{"iteration": 4, "at_ms": 20, "output": 29, "value": 1, "attempts": 1, "write_us": 20000,
                 "oversleep_us": 1, "delay_us": 21000}] * 2,
}


def profile_text(path=(), value=None):
    """PROFILE as plc_do_profile prints it, VALUE at PATH (keys and indexes)
    where given: NaN and infinities as Python's json writes them."""
    profile = copy.deepcopy(PROFILE)
    if path:
        inner = profile
        for key in path[:-1]:
            inner = inner[key]
        inner[path[-1]] = value
    return json.dumps(profile) + "\n"


def strict(text):
    """JSON as strict readers take it: NaN and infinities refused."""
    def refuse(constant):
        raise ValueError("%s in strict JSON" % constant)
    return json.loads(text, parse_constant=refuse)


def strtoul_cases(path):
    """The table the program's unit tests read too: (text, value), the text's
    bytes as the program gets them."""
    cases = []
    with open(path, encoding="ascii") as file:
        for line in file:
            if line.strip() and not line.startswith("#"):
                value, text = line.rstrip("\n").split(" ", 1)
                cases.append((ast.literal_eval("b" + text), int(value)))
    return cases


def run_of(status=None, out="", err="", **given):
    """A controller's run as the play hands it on: its variables and the
    results of its three steps (start, wait for the end, output)."""
    run = {"iter": "10", "delay": "2000", "first": "25", "last": "35", "profile": False,
           "start": {"stdout": "plc_do_test fleet: run folder /tmp/run"},
           "ended": {"stdout": "started 1\nended 2\nstatus %s\n" % status}, "output": {"stdout": out, "stderr": err}}
    run.update(given)
    return run


def report(longest_ms):
    """plc_do_test's report of a completed run whose longest delay is LONGEST_MS."""
    return REPORT.replace("maximum delay: 21ms", "maximum delay: %dms" % longest_ms)


def profiled_run(longest_us, p99_us, **more):
    """A profiled run's result: a profile of the two figures, MORE beside them."""
    delay = dict(dict.fromkeys(PERCENTILES, 0), max=longest_us, p99=p99_us)
    profile = dict({"report": report(longest_us // 1000), "identity": "plc_do_profile 1.0.0 armhf", "delay": delay,
                    "write": dict.fromkeys(PERCENTILES, 0), "oversleep": dict.fromkeys(PERCENTILES, 0)}, **more)
    return run_of(1, json.dumps(profile), profile=True)


def kept_play(**longest_ms):
    """A kept play's JSON: a completed run by host, its longest delay in ms
    (None: a run without a report)."""
    return json.dumps({host: {"verdict": "pass" if ms is not None else "unreachable", "max_delay_ms": ms,
                              "profile": None} for host, ms in longest_ms.items()})


def results(step, stdin, *options):
    """results.py STEP, as the play runs it: (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, RESULTS, step, "--single-file", RESULTS] + list(options),
                          input=stdin, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


class Table:
    """results.py table over RUNS: its status and each file it wrote."""

    def __init__(self, runs, *options):
        with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
            out = os.path.join(folder, "table")
            self.status, self.stdout, self.stderr = results("table", json.dumps(runs), "--out", out, *options)
            self.views = {suffix: pathlib.Path(out + suffix).read_text(encoding="utf-8") for suffix in (".csv", ".md", ".json", ".html", ".junit.xml")}
        self.rows = {row["host"]: row for row in csv.DictReader(self.views[".csv"].splitlines())}
        self.kept = strict(self.views[".json"])
        self.junit = ElementTree.fromstring(self.views[".junit.xml"].encode("utf-8"))


class Parameters(unittest.TestCase):
    def test_strtoul_reads_as_the_program(self):
        cases = strtoul_cases(STRTOUL_CASES)
        self.assertGreaterEqual(len(cases), 30)
        for text, value in cases:
            # Ansible hands on text: bytes that are not UTF-8 as one character each.
            for decoded in {text.decode("latin-1"), text.decode("utf-8", "surrogateescape")}:
                with self.subTest(text=decoded):
                    self.assertEqual(parameters.strtoul(decoded), value)

    # iter, delay, plc_run_limit_s given | the run limit the play gives, in s
    LIMITS = [
        ("1000", "0x4e20", "", 150),
        ("1000", "20000", "", 150),
        ("020", "1000000", "", 92),
        ("10001", "20000", "", 60),
        ("0", "abc", "", 60),
        ("1000", "20000", "7", 7),
        (1000, 20000, 600, 600),
        # plc_do_profile takes any count, and ends at its duration too.
        ("10001", "20000", "", 960, {"profile": True}),
        ("4294967295", "1000", "", 28860, {"profile": True, "duration": "8h"}),
        ("100", "20000", "", 69, {"profile": True, "duration": "1d"}),
    ]

    def test_run_limits(self):
        hosts = {"h%d" % at: dict({"iter": iterations, "delay": delay, "first": "25", "last": "35",
                                   "run_limit_s": limit}, **(profile[0] if profile else {}))
                 for at, (iterations, delay, limit, _, *profile) in enumerate(self.LIMITS)}
        status, stdout, stderr = results("check", json.dumps(hosts), "--given", RESULTS)
        self.assertEqual(status, 0, stderr)
        checked = json.loads(stdout)
        self.assertEqual(checked["single_file"], RESULTS)
        for at, (iterations, delay, limit, expected, *_) in enumerate(self.LIMITS):
            with self.subTest(iter=iterations, delay=delay, run_limit_s=limit):
                self.assertEqual(checked["run_limit_s"]["h%d" % at], expected)

    # a controller's variables beside iter, delay, first, last | words of the refusal (status 2)
    REFUSED = [
        ({"priority": "80"}, "plc_priority is plc_do_profile's: give -e plc_profile=true too (h)"),
        ({"cpu": "1", "profile": False}, "plc_cpu is plc_do_profile's"),
        ({"max_delay_ms": "25ms"}, "plc_max_delay_ms must be a whole number of milliseconds, not '25ms'"),
        ({"highest_class": "40ms"}, "plc_highest_class must be one of <20ms, 20..30ms, 30..40ms, >40ms, not '40ms'"),
        ({"run_limit_s": "0"}, "plc_run_limit_s must be a whole number of seconds above 0, not '0'"),
        ({"run_limit_s": "0x10"}, "plc_run_limit_s must be a whole number of seconds above 0"),
        ({"iter": ""}, "give the run's parameters: -e plc_iter=1000 -e plc_delay=20000 -e plc_first=25 "
                       "-e plc_last=35 (missing for h)"),
        ({"last": None}, "(missing for h)"),
        ({"iter": [10]}, "plc_iter must be a number as the program reads it (1000, 0x3e8, 01750), not [10]"),
        ({"delay": {"us": 1}}, "plc_delay must be a number as the program reads it"),
        ({"first": True}, "plc_first must be a number as the program reads it"),
        ({"duration": "8h"}, "plc_duration is plc_do_profile's: give -e plc_profile=true too (h)"),
        ({"duration": "8 hours", "profile": True}, "plc_duration must be a whole number followed by s, m, h or d (8h), "
                                                   "not '8 hours' (h)"),
        ({"interval": "1.5s", "profile": True}, "plc_interval must be a whole number followed by s, m, h or d"),
        ({"limit_us": "1e3", "profile": True}, "plc_limit_us must be a whole number of microseconds, not '1e3' (h)"),
    ]

    def test_duration_bounds_the_run_limit(self):
        host = {"iter": "4294967295", "delay": "2000", "first": "25", "last": "35", "profile": True,
                "duration": "8h", "interval": "30m", "limit_us": "500"}
        status, stdout, stderr = results("check", json.dumps({"h": host}), "--given", RESULTS)
        self.assertEqual((status, json.loads(stdout or "{}").get("run_limit_s")), (0, {"h": 60 + 8 * 3600}), stderr)

    def test_refused_before_any_controller(self):
        for given, words in self.REFUSED:
            with self.subTest(given=given):
                host = {"iter": "10", "delay": "2000", "first": "25", "last": "35"}
                host.update(given)
                status, stdout, stderr = results("check", json.dumps({"h": host}), "--given", RESULTS)
                self.assertEqual((status, stdout), (2, ""))
                self.assertTrue(stderr.startswith("plc_do_test fleet: "), stderr)
                self.assertIn(words, stderr)

    def test_single_file_refused(self):
        for given, words in (("", "give the single file for every controller"), ("/nonexistent/x.run", "no single file to read at /nonexistent/x.run")):
            with self.subTest(given=given):
                done = subprocess.run([sys.executable, RESULTS, "check", "--single-file", given or ".", "--given", given],
                                      input="{}", capture_output=True, text=True, timeout=60)
                self.assertEqual(done.returncode, 2)
                self.assertIn(words, done.stderr)


class Rows(unittest.TestCase):
    # host | its run | verdict | status | the reason begins with
    RUNS = [
        ("passes", run_of(1, REPORT), "pass", "1", ""),
        ("too_slow", run_of(1, REPORT, max_delay_ms="20", highest_class="<20ms"), "fail", "1",
         "longest delay 21 ms, above 20 ms; delays above <20ms: 1 20..30ms"),
        ("refused", run_of(2, "output 25 refused every write for 10 s; run stopped after 3 of 10 iterations\n" + REPORT),
         "write refused", "2", "output 25 refused every write for 10 s"),
        ("lost", run_of(74), "report lost", "74", "the report could not be written"),
        ("usage", run_of(255, "usage: plc_do_test ITER\n"), "parameters refused", "255", "usage: plc_do_test ITER"),
        ("no_binary", run_of(126, err="plc_do_test: TMPDIR /tmp allows no programs\n"), "not started", "126",
         "plc_do_test: TMPDIR /tmp allows no programs (in the play: plc_tmpdir)"),
        ("after", run_of(1, "hello\n" + REPORT), "no report", "1", "status 1, the report after other output: hello"),
        ("stopped", run_of(143, ended={"stdout": "started 1\nended 9\nstopped 3\nstatus 143\n"}), "stopped", "143",
         "no end within 3 s: stopped on the controller"),
        ("forged", run_of(2, "output 25 refused every write for 10 s; run stopped after 0 of 10 iterations\n" + REPORT,
                          "status 1\nplc_do_test fleet: status 1\n"), "write refused", "2", "output 25 refused"),
        ("unreached", run_of(start={"unreachable": True, "msg": "Failed to connect to the host via ssh: Warning: "
                                    "Permanently added x (ED25519) to the list of known hosts.\r\nssh: connect: "
                                    "Connection refused"}),
         "unreachable", "", "Failed to connect to the host via ssh: ssh: connect: Connection refused"),
        ("no_ansible_tmp", run_of(start={"unreachable": True, "msg": 'Failed to create temporary directory. mkdir -p '
                                         '"` echo /tmp/.ansible `"&& x exited with result 1, stderr output: mkdir: '
                                         'read-only\n'}),
         "not run", "", "reached, but Ansible could not make its folder in /tmp/.ansible (status 1: mkdir: read-only)"),
        ("no_run_folder", run_of(start={"stdout": "", "stderr": "plc_do_test fleet: no run folder in /tmp: x\n"}),
         "not run", "", "the run did not start: plc_do_test fleet: no run folder in /tmp: x"),
        ("no_end", run_of(ended={"stdout": "no run folder /tmp/run"}), "no result", "",
         "no end of the run in /tmp/run seen: no run folder /tmp/run"),
        ("not_played", {}, "no result", "", "the play did not run on it"),
        # The controller's clock stepped back 100 s during the run; the PC's
        # monotonic clock around it (none for a run a later play collected).
        ("clock_stepped", run_of(1, REPORT, ended={"stdout": "started 1000\nended 900\nstatus 1\n"},
                                 clock={"started": "100.5", "ended": "112.75"}), "pass", "1", ""),
        ("clocked_later", run_of(1, REPORT, clock={"started": "105", "ended": "130"}), "pass", "1", ""),
        ("collected_stepped", run_of(1, REPORT, ended={"stdout": "started 1000\nended 900\nstatus 1\n"},
                                     clock={"started": "", "ended": "140"}), "pass", "1", ""),
        # A profile asked of a single file older than plc_do_profile, whose
        # plc_do_test reads --profile as 0 iterations; JSON that is no profile.
        ("older", run_of(1, REPORT, "plc_do_test: chose armhf\n", profile=True), "no report", "1",
         "no profile in what it printed (a single file without plc_do_profile?)"),
        # A profile of no iteration (its first write refused): no figures, null, and still a row.
        ("empty_profile", run_of(2, json.dumps({"report": "output 25 refused every write for 10 s; run stopped "
                                                           "after 0 of 10 iterations\n" + REPORT, "delay": None,
                                                "write": None, "oversleep": None, "outputs": [], "longest": []}),
                                 profile=True), "write refused", "2", "output 25 refused every write for 10 s"),
        ("odd_json", run_of(1, json.dumps({"report": REPORT, "delay": "x", "outputs": [1]}), profile=True), "no report",
         "1", "status 1, no report: a profile results.py cannot read (delay is no object)"),
        # A megabyte of words after a byte that is not UTF-8, as Ansible hands
        # it on (a lone surrogate) or replaces it (U+FFFD).
        ("escaped", run_of(3, err="\udcfc=" + "w" * 1000000), "no report", "3", "status 3, no report: \\xfc=www"),
        ("replaced", run_of(3, err="\ufffd=" + "w" * 1000000), "no report", "3", "status 3, no report: \ufffd=www"),
        # A megabyte printed on each stream: cut on the page and in JUnit.
        ("chatty", run_of(3, "o" * 1000000 + "\n", "e" * 1000000), "no report", "3", "status 3, no report: eee"),
        # Any JSON a profiled run prints is a row with its reason; no NaN or
        # infinity reaches a file.
        ("profiled", run_of(1, profile_text(), profile=True), "pass", "1", ""),
        ("kernel_text", run_of(1, profile_text(("system", "kernel"), "6.1.0"), profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (system.kernel is no object)"),
        ("kernel_number", run_of(1, profile_text(("system", "kernel"), 61), profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (system.kernel is no object)"),
        ("nan_bound", run_of(1, profile_text(("histogram", 2, 0), float("nan")), profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (histogram[2] is no [bound, count])"),
        ("infinite_p99", run_of(1, profile_text(("delay", "p99"), float("inf")), profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (delay.p99 is no finite number)"),
        ("huge_p99", run_of(1, profile_text(("write", "p99"), 1e308).replace("1e+308", "1e999"), profile=True),
         "no report", "1", "status 1, no report: a profile results.py cannot read (write.p99 is no finite number)"),
        ("nan_elsewhere", run_of(1, profile_text(("parameters", "delay"), float("-inf")), profile=True), "no report",
         "1", "status 1, no report: a profile results.py cannot read (NaN or an infinity at parameters.delay)"),
        ("truncated_profile", run_of(1, profile_text()[:300], profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (not JSON: "),
        ("empty_object", run_of(1, "{}\n", profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (report is no text)"),
        ("deep", run_of(1, "[" * 100000 + "]" * 100000, profile=True), "no report", "1",
         "status 1, no report: a profile results.py cannot read (not JSON: "),
        ("stopped_profile", run_of(143, "{}", profile=True, ended={"stdout": "started 1\nended 9\nstopped 3\nstatus 143\n"}),
         "stopped", "143", "no end within 3 s"),
    ]

    @classmethod
    def setUpClass(cls):
        cls.table = Table({host: run for host, run, *_ in cls.RUNS})

    def test_rows(self):
        self.assertEqual(self.table.status, 1, self.table.stderr)
        self.assertEqual(sorted(self.table.rows), sorted(host for host, *_ in self.RUNS))
        for host, _, verdict, status, reason in self.RUNS:
            with self.subTest(host=host):
                row = self.table.rows[host]
                self.assertEqual((row["verdict"], row["status"]), (verdict, status))
                self.assertTrue(row["reason"].startswith(reason), row["reason"][:200])
                self.assertEqual(self.table.kept[host]["verdict"], verdict)
                # Every view names each controller that did not pass, and why.
                for suffix in (".md", ".html", ".junit.xml"):
                    self.assertIn(host, self.table.views[suffix])
                self.assertEqual(verdict != "pass", host + ": " + verdict in self.table.stderr)

    def test_cut_in_the_tables_whole_in_the_json(self):
        for host, shown in (("escaped", "\\xfc"), ("replaced", "\ufffd")):
            with self.subTest(host=host):
                self.assertIn("more characters, all in the JSON]", self.table.rows[host]["reason"])
                self.assertLess(len(self.table.rows[host]["reason"]), 400)
                self.assertEqual(self.table.kept[host]["stderr"], shown + "=" + "w" * 1000000)

    def test_junit_kinds(self):
        cases = {case.get("name"): case for case in self.table.junit.iter("testcase")}
        for host, _, verdict, *_ in self.RUNS:
            with self.subTest(host=host):
                told = [child.tag for child in cases[host] if child.tag in ("failure", "error")]
                self.assertEqual(told, [] if verdict == "pass" else [self.table.kept[host]["kind"]])
        self.assertEqual(int(self.table.junit.get("tests")), len(self.RUNS))

    def test_cut_on_the_page_and_in_junit(self):
        cases = {case.get("name"): case for case in self.table.junit.iter("testcase")}
        chatty = cases["chatty"].findtext("system-out")
        self.assertLess(len(chatty), 3 * junit_view.TEXT_CHARACTERS + 1000)
        # The reason, the report and standard error, each cut with its mark.
        self.assertEqual(chatty.count("more characters, all in the JSON]"), 3)
        self.assertIn("\n[... %d more characters, all in the JSON]" % (1000001 - junit_view.TEXT_CHARACTERS), chatty)
        self.assertLess(len(cases["escaped"].findtext("failure")), junit_view.TEXT_CHARACTERS + 100)
        self.assertIn("more characters, all in the JSON]", cases["escaped"].findtext("failure"))
        page = self.table.views[".html"]
        self.assertLess(len(page), 200000)
        self.assertIn("[... %d more characters, all in the JSON]" % (1000001 - html_view.TEXT_CHARACTERS), page)
        self.assertEqual((len(self.table.kept["chatty"]["stdout"]), len(self.table.kept["chatty"]["stderr"])),
                         (1000001, 1000000))

    def test_no_number_nan_or_infinite(self):
        numbers = [cell for row in self.table.rows.values() for cell in row.values()]
        numbers += re.findall(r'<td class="number">([^<]*)<', self.table.views[".html"])
        numbers += [cell.strip() for line in self.table.views[".md"].splitlines() for cell in line.split("|")]
        self.assertFalse({cell.lower().lstrip("+-") for cell in numbers} & {"nan", "inf", "infinity"})
        self.assertEqual(self.table.kept["profiled"]["profile"]["delay"]["p99"], 20500)
        self.assertIsNone(self.table.kept["nan_bound"]["profile"])

    def test_junit_times_by_the_pc(self):
        """A case's time is the PC's around its run, never negative; the
        suite's is the play's, first start to last end, not the sum."""
        cases = {case.get("name"): float(case.get("time")) for case in self.table.junit.iter("testcase")}
        self.assertEqual((cases["clock_stepped"], cases["clocked_later"], cases["collected_stepped"], cases["passes"]),
                         (12.25, 25.0, 0.0, 1.0))
        self.assertEqual(float(self.table.junit.get("time")), 29.5)

    def test_fault_of_its_own(self):
        # A view that fails: the others written, status 70, never 1.
        with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
            done = subprocess.run([sys.executable, "-c", "import sys; sys.path.insert(0, sys.argv[1]); "
                                   "from plc_fleet import cli; cli.markdown = None; sys.exit(cli.main(sys.argv[2:]))",
                                   os.path.dirname(RESULTS), "table", "--single-file", RESULTS,
                                   "--out", folder + "/table"], input=json.dumps({"h": run_of(1, REPORT)}),
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual(done.returncode, 70)
            self.assertIn("results.py failed (status 70), not a controller", done.stderr)
            self.assertEqual(sorted(os.listdir(folder)), ["table" + suffix for suffix in
                                                          (".csv", ".html", ".json", ".junit.xml", ".md")])


class BadInput(unittest.TestCase):
    """results.py's own input: status 2, one line, before any file."""
    # standard input | options | the line says
    REFUSED = [
        ('{"h": {"iter": "10", ', [], "the runs on standard input are not JSON: Expecting"),
        ("hello", [], "the runs on standard input are not JSON: Expecting value"),
        ("", [], "the runs on standard input are not JSON"),
        ('{"h": {"iter": NaN}}', [], "the runs on standard input are not JSON: NaN"),
        ("{}", [], "no controller's run on standard input"),
        ('["not runs by host"]', [], "the runs on standard input are no JSON object of runs by host"),
        ('{"h": 5}', [], "the runs on standard input are no JSON object of runs by host (h: 5)"),
        ('{"h": {}}', ["--out", "/nonexistent/table"], "no folder to write the results in: /nonexistent"),
        ('{"h": {}}', ["--out", "/"], "no folder to write the results in: /"),
        ('{"h": {}}', ["--out", "x", "--no-such"], "unrecognized arguments: --no-such"),
    ]

    def test_refused(self):
        for stdin, options, words in self.REFUSED:
            with self.subTest(stdin=stdin[:30], options=options):
                with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
                    status, stdout, stderr = results("table", stdin, *(options or ["--out", folder + "/table"]))
                    self.assertEqual((status, stdout, os.listdir(folder)), (2, "", []))
                self.assertEqual(len(stderr.splitlines()), 1, stderr)
                self.assertTrue(stderr.startswith("plc_do_test fleet: "), stderr)
                self.assertIn(words, stderr)

    def test_arguments(self):
        for arguments, words in (([], "the following arguments are required"), (["tabel"], "invalid choice: 'tabel'"),
                                 (["table", "--out", "x"], "the following arguments are required: --single-file")):
            with self.subTest(arguments=arguments):
                done = subprocess.run([sys.executable, RESULTS] + arguments, input="{}", capture_output=True,
                                      text=True, timeout=60)
                self.assertEqual((done.returncode, len(done.stderr.splitlines())), (2, 1), done.stderr)
                self.assertIn(words, done.stderr)

    def test_single_file_unreadable(self):
        # The table is written all the same, without identities.
        with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
            done = subprocess.run([sys.executable, RESULTS, "table", "--single-file", folder + "/gone.run",
                                   "--out", folder + "/table"], input=json.dumps({"h": run_of(1, REPORT)}),
                                  capture_output=True, text=True, timeout=60)
            self.assertEqual(len(os.listdir(folder)), 5)
        self.assertEqual(done.returncode, 2)
        self.assertEqual(done.stderr, "plc_do_test fleet: no single file to read at %s/gone.run: the table written "
                                      "without identities\n" % folder)


def plant_runs(count):
    """COUNT profiled controllers as a plant has them: most pass, a tenth fail
    their limit, some are unreached or stopped, some print 100 kB on
    standard error; their longest delays spread from 5 to 34 ms."""
    runs = {}
    for at in range(count):
        longest = 5 + at * 7 % 30
        report = REPORT.replace("maximum delay: 21ms", "maximum delay: %dms" % longest)
        run = run_of(1, profile_text(("report",), report), profile=True, max_delay_ms="30" if at % 10 else "4")
        if at % 25 == 7:
            run = run_of(start={"unreachable": True, "msg": "ssh: connect to host 192.0.2.%d: No route to host" % at})
        elif at % 50 == 11:
            run = run_of(143, ended={"stdout": "started 1\nended 9\nstopped 150\nstatus 143\n"}, profile=True)
        elif at % 12 == 5:
            run["output"]["stderr"] = "libplc: bus cycle %d late\n" % at * 4000
        runs["press_%03d" % at] = run
    return runs


class Plant(unittest.TestCase):
    """500 controllers: every view at size, the page's head and its chart,
    and, where Chromium is, the page as it renders (tests/fleet/check_views.py)."""
    SIZE = 500

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="fleet-results-test.")
        cls.out = os.path.join(cls.folder, "plant")
        cls.status, _, cls.stderr = results("table", json.dumps(plant_runs(cls.SIZE)), "--out", cls.out)
        cls.views = {suffix: pathlib.Path(cls.out + suffix).read_bytes() for suffix in (".csv", ".md", ".json", ".html", ".junit.xml")}

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def test_sizes(self):
        self.assertEqual(self.status, 1, self.stderr[-2000:])
        self.assertLess(len(self.views[".html"]), 1000000)
        outs = [case.findtext("system-out") for case in ElementTree.fromstring(self.views[".junit.xml"]).iter("testcase")]
        self.assertEqual(len(outs), self.SIZE)
        self.assertLess(max(map(len, outs)), 3 * junit_view.TEXT_CHARACTERS + 2000)
        kept = strict(self.views[".json"].decode("utf-8"))
        self.assertEqual(len(kept["press_005"]["stderr"]), len("libplc: bus cycle 5 late\n") * 4000)

    def test_head(self):
        page = self.views[".html"].decode("utf-8")
        kept = strict(self.views[".json"].decode("utf-8"))
        counted = {verdict: int(count) for verdict, count in
                   re.findall(r'<tr class="verdict-count" data-verdict="([^"]+)" data-count="(\d+)"', page)}
        verdicts = [row["verdict"] for row in kept.values()]
        self.assertEqual(counted, {verdict: verdicts.count(verdict) for verdict in verdicts})
        plant = re.search(r'<svg class="plant".*?</svg>', page, re.S)
        self.assertIsNotNone(plant)
        delays = [row["max_delay_ms"] for row in kept.values() if row["max_delay_ms"] is not None]
        self.assertEqual(len(re.findall(r"<rect class=\"bar ", plant[0])), len(delays))
        self.assertIn('class="limit"', plant[0])
        # Passes collapsed: every passing row after the passes' <details>.
        passes = [at.start() for at in re.finditer(r'<tr class="controller"[^>]* data-kind="pass"', page)]
        self.assertEqual(len(passes), verdicts.count("pass"))
        self.assertLess(page.index('<details class="passes"'), min(passes))

    def test_in_chromium(self):
        if not shutil.which("chromium"):
            self.skipTest("no chromium to render the page (tools/setup test installs it)")
        done = subprocess.run([sys.executable, CHECK_VIEWS, "--page", self.out], capture_output=True, text=True,
                              timeout=600)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        print(done.stdout, end="", file=sys.stderr)


class Escaping(unittest.TestCase):
    # text | CSV cell | Markdown cell
    CELLS = [
        ("plain", "plain", "plain"),
        ("=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")", "=HYPERLINK(\"x\")"),
        ("+1", "'+1", "+1"),
        ("-1", "'-1", "-1"),
        ("@sum", "'@sum", "\\@sum"),
        ("\tx", "'\\x09x", "\\\\x09x"),
        ("\rx", "'\\x0dx", "\\\\x0dx"),
        ("C:\\| D:\\\\|", "C:\\| D:\\\\|", "C:\\\\\\| D:\\\\\\\\\\|"),
        ("two\nlines", "two\\x0alines", "two\\\\x0alines"),
        ("\x1b[1mbold\x7f", "\\x1b[1mbold\\x7f", "\\\\x1b\\[1mbold\\\\x7f"),
        ("verf\udcfcgbar", "verf\\xfcgbar", "verf\\\\xfcgbar"),
        (None, "", ""),
        (-5, "-5", "-5"),
        # A spreadsheet may split on ',', ';' or a tab: after each, as at the start.
        ("Feldbus;=1+2", "Feldbus;'=1+2", "Feldbus;=1+2"),
        ("a,+1;-2,@x", "a,'+1;'-2,'@x", "a,+1;-2,\\@x"),
        ("a\t=1", "a\\x09'=1", "a\\\\x09=1"),
        ("a;\tb", "a;'\\x09b", "a;\\\\x09b"),
        ("-1, -2; =3", "'-1, -2; =3", "-1, -2; =3"),
        # Markdown shows controller text as text: no markup, image or link.
        ("<script>alert(1)</script>", "<script>alert(1)</script>", "\\<script\\>alert(1)\\</script\\>"),
        ("<img src=x onerror=alert(1)>", "<img src=x onerror=alert(1)>", "\\<img src=x onerror=alert(1)\\>"),
        ("![](http://example.com/x.png)", "![](http://example.com/x.png)", "\\!\\[\\](http\\://example.com/x.png)"),
        ("[a](https://x) www.example.com me@example.com", "[a](https://x) www.example.com me@example.com",
         "\\[a\\](https\\://x) www\\.example.com me\\@example.com"),
        ("`x` *b* _i_ ~s~ &lt;", "`x` *b* _i_ ~s~ &lt;", "\\`x\\` \\*b\\* \\_i\\_ \\~s\\~ \\&lt;"),
    ]

    def test_cells(self):
        for text, in_csv, in_markdown in self.CELLS:
            with self.subTest(text=text):
                self.assertEqual(csv_view.csv_cell(text), in_csv)
                self.assertEqual(markdown_view.markdown_cell(text), in_markdown)

    def test_cut(self):
        for length, kept in ((300, 300), (301, 300), (1000, 300)):
            with self.subTest(length=length):
                text = cells.cell_text("x" * length)
                self.assertEqual(text[:kept + 1].rstrip(" "), "x" * kept)
                self.assertEqual(length > kept, text.endswith(" [... %d more characters, all in the JSON]"
                                                              % (length - kept)))

    def test_views(self):
        said = "C:\\| <svg class=\"histogram\"></svg> \x1b[1m =cmd"
        table = Table({"marked": run_of(255, said + "\n"), "fine": run_of(1, REPORT)})
        # Every Markdown row has the header's cells, as a reader splits them.
        lines = [line for line in table.views[".md"].splitlines() if line.startswith("| ")]
        splits = [len(line.replace("\\\\", "").replace("\\|", "").split("|")) for line in lines]
        self.assertEqual(splits, [splits[0]] * 3)
        self.assertTrue(table.rows["marked"]["reason"].startswith("C:\\| <svg"))
        # The page shows markup as text: one histogram, none of the controller's.
        self.assertNotIn("<svg class=\"histogram\"></svg>", table.views[".html"])
        self.assertIn("&lt;svg class=&#34;histogram&#34;&gt;", table.views[".html"])
        self.assertIn("\\x1b[1m", table.views[".html"])
        # XML cannot hold the escape character: left out, the rest kept.
        failure = table.junit.find("testcase[@name='marked']/failure")
        self.assertEqual(failure.text, "C:\\| <svg class=\"histogram\"></svg> [1m =cmd")
        self.assertEqual(table.kept["marked"]["stdout"], said + "\n")

    def test_formula_after_a_separator(self):
        table = Table({"fieldbus": run_of(255, "Feldbus;=1+2\n"), "script": run_of(255, "<script>x</script>\n")})
        line = next(line for line in table.views[".csv"].splitlines() if line.startswith("fieldbus,"))
        self.assertTrue(line.endswith(',"Feldbus;\'=1+2"'), line)
        self.assertEqual(table.rows["fieldbus"]["reason"], "Feldbus;'=1+2")
        self.assertNotIn("<script>", table.views[".md"])
        self.assertIn("\\<script\\>x\\</script\\>", table.views[".md"])


class Record(unittest.TestCase):
    """plc_history: each play kept in a folder, each controller against its
    previous run and its baseline (docs/fleet.md)."""
    # host | its run in the first play (None: not in it) | in the second | the second's verdict | its reason begins with
    PLAYS = [
        ("steady", run_of(1, report(21)), run_of(1, report(31)), "pass", ""),
        ("slower", run_of(1, report(21)), run_of(1, report(32)), "regressed",
         "longest delay 32000 us, above 1.5 times its baseline 21000 us (its last completed run)"),
        ("p99", profiled_run(21000, 5000), profiled_run(21500, 7600, intervals=[
            {"at_s": at * 60, "length_s": 60, "iterations": 3000, "max": 5000 * 2 ** at, "p99": 4000, "exceedances": 0}
            for at in range(3)]), "regressed", "p99 delay 7600 us, above 1.5 times its baseline 5000 us"),
        ("failing", run_of(1, report(21), max_delay_ms="25"), run_of(1, report(40), max_delay_ms="25"), "fail",
         "longest delay 40 ms, above 25 ms; longest delay 40000 us, above 1.5 times its baseline 21000 us"),
        ("gone", run_of(1, report(21)), {}, "no result", "the play did not run on it"),
        ("new", None, run_of(1, report(90)), "pass", ""),
    ]

    def test_two_plays(self):
        with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
            record = os.path.join(folder, "record", "plant")
            first = Table({host: run for host, run, *_ in self.PLAYS if run is not None}, "--history", record)
            self.assertEqual(first.status, 0, first.stderr)
            self.assertIn("history: %s: no such folder yet" % record, first.stdout)
            second = Table({host: run for host, _, run, *_ in self.PLAYS}, "--history", record)
            kept = sorted(os.listdir(record))
            self.assertEqual([pathlib.Path(record, name).read_text(encoding="utf-8") for name in kept],
                             [first.views[".json"], second.views[".json"]])
        self.assertIn("history: this play kept as %s" % os.path.join(record, kept[1]), second.stdout)
        self.assertEqual(second.status, 1, second.stderr)
        # Regressions are named first.
        self.assertRegex(second.stderr, r"did not pass:\n(\w+): regressed \(regressed\)")
        cases = {case.get("name"): case for case in second.junit.iter("testcase")}
        for host, before, _, verdict, reason in self.PLAYS:
            with self.subTest(host=host):
                row, history = second.rows[host], second.kept[host]["history"]
                self.assertEqual(row["verdict"], verdict)
                self.assertTrue(row["reason"].startswith(reason), row["reason"])
                self.assertEqual((history["previous"] or {}).get("play"), kept[0] if before else None)
                self.assertEqual(len(history["trend"]), 2 if before else 1)
                told = [child for child in cases[host] if child.tag in ("failure", "error")]
                self.assertEqual([(child.tag, child.get("type")) for child in told],
                                 [] if verdict == "pass" else [(second.kept[host]["kind"].replace("regressed", "failure"),
                                                                verdict)])
        self.assertEqual((second.rows["slower"]["previous_max_delay_us"], second.rows["slower"]["baseline_max_delay_us"],
                          second.rows["slower"]["baseline_runs"]), ("21000", "21000", "1"))
        figures = {item.get("name"): item.get("value") for item in cases["p99"].iter("property")}
        self.assertEqual(figures, {"max_delay_us": "21500", "p99_delay_us": "7600", "previous_max_delay_us": "21000",
                                   "baseline_max_delay_us": "21000", "previous_p99_delay_us": "5000",
                                   "baseline_p99_delay_us": "5000", "baseline_runs": "1"})
        self.assertEqual(int(second.junit.get("failures")), 3)
        # The page: regressions first, a trend for each controller, the maximum over time of the long profile.
        page = second.views[".html"]
        self.assertLess(page.index('data-host="p99"'), page.index('data-host="failing"'))
        self.assertEqual(page.count('<svg class="trend"'), len(self.PLAYS))
        self.assertEqual(page.count('<svg class="intervals"'), 1)
        self.assertIn('<polyline points="0,60 200,40 400,0"', page)

    # case | the folder's files before the play (text; None: a folder) | its controller h's longest delay in ms |
    #   h's verdict, previous run's and baseline's longest delay, how many runs that is | lines on standard output
    RECORDS = [
        # The last 5 completed runs: the oldest left out, the unreached one and the stopped one not counted,
        # the median taken; the previous run whatever its verdict.
        ("several", {"20250101T000000.000000Z.json": kept_play(h=10), "20250102T000000.000000Z.json": kept_play(h=10),
                     "20250103T000000.000000Z.json": kept_play(h=10), "20250104T000000.000000Z.json": kept_play(h=30),
                     "20250105T000000.000000Z.json": kept_play(h=None, x=1),
                     "20250106T000000.000000Z.json": kept_play(h=30), "20250107T000000.000000Z.json": kept_play(h=30)},
         40, ("pass", "30000", "30000", "5"), ["history: this play kept as "]),
        ("several_regressed", {"20250101T000000.000000Z.json": kept_play(h=10),
                               "20250102T000000.000000Z.json": kept_play(h=20),
                               "20250103T000000.000000Z.json": kept_play(h=30),
                               "20250104T000000.000000Z.json": json.dumps(
                                   {"h": {"verdict": "write refused", "max_delay_ms": 90, "profile": None}})},
         31, ("regressed", "90000", "20000", "3"), []),
        ("broken", {"20250101T000000.000000Z.json": '{"h": {"verdict": "pass", "max_delay_ms": 2',
                    "20250102T000000.000000Z.json": '["h", 20]',
                    "20250103T000000.000000Z.json": '{"h": {"verdict": "pass", "longest": 20}}',
                    "20250104T000000.000000Z.json": '{"h": {"verdict": "pass", "max_delay_ms": "20"}}',
                    "20250105T000000.000000Z.json": kept_play(h=20),
                    "20250106T000000.000000Z.json": None, "notes.txt": "x"},
         29, ("pass", "20000", "20000", "1"),
         ["history: 20250101T000000.000000Z.json: no JSON, truncated? (",
          "history: 20250102T000000.000000Z.json: not a play's results (a JSON object by controller): left out",
          "history: 20250103T000000.000000Z.json: the row of h has no verdict and longest delay (a file of an older "
          "release or another program?): left out",
          'history: 20250104T000000.000000Z.json: the longest delay of h is no number: "20": left out',
          "history: 20250106T000000.000000Z.json: cannot be read (Is a directory): left out",
          "history: notes.txt: not a kept play's name (%Y%m%dT%H%M%S.%fZ.json): left out"]),
        ("not_a_folder", "a file", 40, ("pass", "", "", ""),
         ["): nothing compared", "history: this play not kept in "]),
    ]

    def test_records(self):
        for case, files, longest, expected, lines in self.RECORDS:
            with self.subTest(case=case), tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
                record = os.path.join(folder, "record")
                if isinstance(files, str):
                    pathlib.Path(record).write_text(files, encoding="utf-8")
                else:
                    os.mkdir(record)
                    for name, text in files.items():
                        (pathlib.Path(record, name).write_text(text, encoding="utf-8") if text is not None
                         else os.mkdir(os.path.join(record, name)))
                table = Table({"h": run_of(1, report(longest))}, "--history", record)
                self.assertEqual(table.status, expected[0] != "pass", table.stderr)
                row = table.rows["h"]
                self.assertEqual((row["verdict"], row["previous_max_delay_us"], row["baseline_max_delay_us"],
                                  row["baseline_runs"]), expected)
                for line in lines:
                    self.assertIn(line, table.stdout)


if __name__ == "__main__":
    unittest.main()
