#!/usr/bin/env python3
"""The fleet's results.py on its own (docs/fleet.md): its parameters read as
the program reads them, its rows and verdicts from Ansible's results, and
every view's escaping. No root, Ansible or qemu: the play's end-to-end
rows are tests/fleet/fleet_test.sh's.
  tests/fleet/results_test.py [TEST...]
"""
import ast
import csv
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import unittest
from xml.etree import ElementTree

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RESULTS = os.path.join(TOP, "fleet", "results.py")
STRTOUL_CASES = os.path.join(TOP, "tests", "support", "strtoul_cases.txt")
sys.path.insert(0, os.path.dirname(RESULTS))
sys.dont_write_bytecode = True  # nothing left in the source tree, whoever runs it
from plc_fleet import cells, csv_view, markdown_view, parameters  # noqa: E402 - the package is found above

REPORT = ("total execution time is: 0s\nnumber of delays:\n<20ms: 9\n20..30ms: 1\n30..40ms: 0\n>40ms: 0\n"
          "maximum delay: 21ms\n")


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


def results(step, stdin, *options):
    """results.py STEP, as the play runs it: (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, RESULTS, step, "--single-file", RESULTS] + list(options),
                          input=stdin, capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


class Table:
    """results.py table over RUNS: its status and each file it wrote."""

    def __init__(self, runs):
        with tempfile.TemporaryDirectory(prefix="fleet-results-test.") as folder:
            out = os.path.join(folder, "table")
            self.status, self.stdout, self.stderr = results("table", json.dumps(runs), "--out", out)
            self.views = {suffix: pathlib.Path(out + suffix).read_text(encoding="utf-8") for suffix in (".csv", ".md", ".json", ".html", ".junit.xml")}
        self.rows = {row["host"]: row for row in csv.DictReader(self.views[".csv"].splitlines())}
        self.kept = json.loads(self.views[".json"])
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
    ]

    def test_run_limits(self):
        hosts = {"h%d" % at: {"iter": iterations, "delay": delay, "first": "25", "last": "35", "run_limit_s": limit}
                 for at, (iterations, delay, limit, _) in enumerate(self.LIMITS)}
        status, stdout, stderr = results("check", json.dumps(hosts), "--given", RESULTS)
        self.assertEqual(status, 0, stderr)
        checked = json.loads(stdout)
        self.assertEqual(checked["single_file"], RESULTS)
        for at, (iterations, delay, limit, expected) in enumerate(self.LIMITS):
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

    def test_duration_lengthens_the_run_limit(self):
        host = {"iter": "10", "delay": "2000", "first": "25", "last": "35", "profile": True, "duration": "8h",
                "interval": "30m", "limit_us": "500"}
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
        ("odd_json", run_of(1, json.dumps({"report": REPORT, "delay": "x", "outputs": [1]}), profile=True), "no report",
         "1", "status 1, no report: {"),
        # A megabyte of words after a byte that is not UTF-8, as Ansible hands
        # it on (a lone surrogate) or replaces it (U+FFFD).
        ("escaped", run_of(3, err="\udcfc=" + "w" * 1000000), "no report", "3", "status 3, no report: \\xfc=www"),
        ("replaced", run_of(3, err="\ufffd=" + "w" * 1000000), "no report", "3", "status 3, no report: \ufffd=www"),
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

    def test_junit_times_by_the_pc(self):
        """A case's time is the PC's around its run, never negative; the
        suite's is the play's, first start to last end, not the sum."""
        cases = {case.get("name"): float(case.get("time")) for case in self.table.junit.iter("testcase")}
        self.assertEqual((cases["clock_stepped"], cases["clocked_later"], cases["collected_stepped"], cases["passes"]),
                         (12.25, 25.0, 0.0, 1.0))
        self.assertEqual(float(self.table.junit.get("time")), 29.5)

    def test_fault_of_its_own(self):
        status, _, stderr = results("table", '["not runs by host"]', "--out", os.devnull + "/x")
        self.assertEqual(status, 70)
        self.assertIn("results.py failed (status 70), not a controller", stderr)


class Escaping(unittest.TestCase):
    # text | CSV cell | Markdown cell
    CELLS = [
        ("plain", "plain", "plain"),
        ("=HYPERLINK(\"x\")", "'=HYPERLINK(\"x\")", "=HYPERLINK(\"x\")"),
        ("+1", "'+1", "+1"),
        ("-1", "'-1", "-1"),
        ("@sum", "'@sum", "@sum"),
        ("\tx", "'\\x09x", "\\\\x09x"),
        ("\rx", "'\\x0dx", "\\\\x0dx"),
        ("C:\\| D:\\\\|", "C:\\| D:\\\\|", "C:\\\\\\| D:\\\\\\\\\\|"),
        ("two\nlines", "two\\x0alines", "two\\\\x0alines"),
        ("\x1b[1mbold\x7f", "\\x1b[1mbold\\x7f", "\\\\x1b[1mbold\\\\x7f"),
        ("verf\udcfcgbar", "verf\\xfcgbar", "verf\\\\xfcgbar"),
        (None, "", ""),
        (-5, "-5", "-5"),
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


if __name__ == "__main__":
    unittest.main()
