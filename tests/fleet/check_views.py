#!/usr/bin/env python3
"""The fleet test's views against its table of controllers (on standard
input, one a line as tests/fleet/fleet_test.sh has them): the JSON's
profiles, the JUnit file's test cases, and the page as headless Chromium
renders it, its screenshot read with Pillow.
  check_views.py TABLE < CONTROLLERS
  check_views.py --page TABLE     the page alone: numbers on one line, its load time
Status 77 where no Chromium is to be had: every other check passed."""
import csv
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from html.parser import HTMLParser
from xml.etree import ElementTree



def fail(text):
    sys.exit("FAIL [fleet]: %s" % text)


# Where a page's numbers must hold on one line: a narrow window, and the print
# style sheet on an A4 page's width.
LAYOUTS = [("an 800 px window", 800, False), ("print, A4", 720, True)]
# Laid out in the page's own time, from the start of its navigation, in ms.
LOAD_MS = 5000
MEASURE = """<script>
addEventListener("load", () => {
  const broken = [...document.querySelectorAll("td.number, .figure td, .longest td")].filter(cell => {
    const range = document.createRange(); range.selectNodeContents(cell);
    return cell.textContent.trim() && range.getClientRects().length > 1;
  }).map(cell => cell.textContent.trim());
  document.body.dataset.measured = JSON.stringify({load_ms: performance.now(), broken: broken.slice(0, 5),
                                                   numbers: document.querySelectorAll("td.number").length});
});
</script>"""


def measure_page(html, chromium):
    """The page as Chromium lays it out in each of LAYOUTS, a script of the
    test's own added to a copy: no number broken across lines, and the page
    loaded within LOAD_MS."""
    page = open(html, encoding="utf-8").read()
    folder = tempfile.mkdtemp(prefix="fleet-chromium.")
    for name, width, printed in LAYOUTS:
        copy = os.path.join(folder, "measured.html")
        shown = page.replace("@media print", "@media all") if printed else page
        open(copy, "w", encoding="utf-8").write(shown.replace("</body>", MEASURE + "</body>"))
        started = time.monotonic()
        done = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                               "--user-data-dir=" + folder, "--window-size=%d,1000" % width, "--dump-dom",
                               "file://" + copy], capture_output=True, text=True, timeout=300)
        took = time.monotonic() - started
        measured = re.search(r'data-measured="([^"]*)"', done.stdout)
        if not measured:
            fail("%s: Chromium measured nothing (status %d): %s" % (name, done.returncode, done.stderr[-500:]))
        measured = json.loads(measured[1].replace("&quot;", '"'))
        if measured["broken"] or measured["load_ms"] > LOAD_MS:
            fail("%s, %d kB: numbers broken across lines %s, loaded in %d ms (at most %d)"
                 % (name, len(page) // 1000, measured["broken"], measured["load_ms"], LOAD_MS))
        print("ok: %s, %d kB: %d numbers, none broken; loaded in %d ms, Chromium's run %.1f s"
              % (name, len(page.encode()) // 1000, measured["numbers"], measured["load_ms"], took))
    shutil.rmtree(folder)


if sys.argv[1] == "--page":
    chromium = shutil.which("chromium")
    if not chromium:
        sys.exit(77)
    measure_page(sys.argv[2] + ".html", chromium)
    sys.exit(0)

import PIL.Image  # noqa: E402 - Debian's python3-pil (tools/setup test), for the screenshot alone

table = sys.argv[1]
expected = [line.rstrip("\n").split("|") for line in sys.stdin]
kept = json.load(open(table + ".json", encoding="utf-8"))
rows = {row["host"]: row for row in csv.DictReader(open(table + ".csv", encoding="utf-8"))}
FAILURE = {"fail", "write refused", "report lost", "parameters refused", "stopped", "no report"}
ERROR = {"unreachable", "not started", "not run", "no result"}
kind = lambda verdict: "failure" if verdict in FAILURE else "error" if verdict in ERROR else "pass"
profiled = {entry[0] for entry in expected if " plc_profile=true" in " " + entry[6]}
with_profile = {entry[0] for entry in expected if entry[0] in profiled and entry[4] in ("pass", "fail")}
# Each profile whole in the JSON; none, with the reason, where the run gave none.
for host in profiled:
    profile = kept[host]["profile"]
    if host not in with_profile:
        if profile is not None or not rows[host]["reason"]:
            fail("%s: a profile %r, the reason %r" % (host, profile, rows[host]["reason"]))
        continue
    if not profile or profile["parameters"]["iterations_done"] != 10 or \
            not all(key in profile for key in ("delay", "write", "oversleep", "histogram", "outputs", "longest")):
        fail("%s: no whole profile in the JSON: %r" % (host, profile))
slow = kept["slow_outputs"]["profile"]
slowest = sorted(slow["outputs"], key=lambda output: -output["write_max"])
if {output["output"] for output in slowest[:2]} != {30, 31} or slowest[1]["write_max"] < 100000 \
        or rows["slow_outputs"]["slowest_output"] not in ("30", "31") or slow["system"]["priority_asked"] != 80 \
        or not rows["slow_outputs"]["priority"].startswith(slow["system"]["policy"]):
    fail("slow_outputs: outputs 30 and 31 not the slowest, or the priority not as asked: %r, %r"
         % (slowest[:3], rows["slow_outputs"]))

# JUnit: the common schema's elements and attributes only, a test case per
# controller with a failure or an error by its verdict, counts that add up.
SCHEMA = {"testsuite": {"name", "tests", "failures", "errors", "skipped", "time", "timestamp", "hostname", "id",
                        "package", "disabled"},
          "properties": set(), "property": {"name", "value"},
          "testcase": {"name", "classname", "time", "assertions", "status"},
          "failure": {"message", "type"}, "error": {"message", "type"}, "skipped": {"message"},
          "system-out": set(), "system-err": set()}
suite = ElementTree.parse(table + ".junit.xml").getroot()
for element in suite.iter():
    if element.tag not in SCHEMA or not set(element.attrib) <= SCHEMA[element.tag]:
        fail("junit: <%s %s> is not in the JUnit schema" % (element.tag, sorted(element.attrib)))
cases = {case.get("name"): case for case in suite.iter("testcase")}
if suite.tag != "testsuite" or sorted(cases) != sorted(entry[0] for entry in expected):
    fail("junit: the test cases %s, not one per controller" % sorted(cases))
for name, _, _, _, verdict, named, _ in expected:
    told = [child for child in cases[name] if child.tag in ("failure", "error")]
    if [child.tag for child in told] != ([kind(verdict)] if kind(verdict) != "pass" else []) \
            or told and (told[0].get("type") != verdict or named.lstrip("'") not in told[0].get("message")) \
            or not cases[name].findtext("system-out"):
        fail("junit: %s: %r, expected %s (%s) saying %r" % (name, [(child.tag, child.attrib) for child in told],
                                                          verdict, kind(verdict), named))
counts = {tag: sum(1 for case in cases.values() for child in case if child.tag == tag) for tag in ("failure", "error")}
if int(suite.get("tests")) != len(expected) or int(suite.get("failures")) != counts["failure"] \
        or int(suite.get("errors")) != counts["error"]:
    fail("junit: tests %s, failures %s, errors %s for %d cases, %r" % (suite.get("tests"), suite.get("failures"),
                                                                      suite.get("errors"), len(cases), counts))
print("ok: the JSON's profiles and the JUnit file's %d test cases (%d failures, %d errors)"
      % (len(cases), counts["failure"], counts["error"]))

# The page: nothing fetched, then as Chromium renders it.
page = open(table + ".html", encoding="utf-8").read()
if re.search(r"<script|<link|<img|<iframe|@import|url\(|(?:src|href)=\"(?!#)", page):
    fail("the page is not self-contained: %s" % re.search(r"<script|<link|<img|<iframe|@import|url\(|(?:src|href)=\"(?!#)", page)[0])
chromium = shutil.which("chromium")
if not chromium:
    sys.exit(77)  # skipped at the end, by the project's rule, after the other checks
profile_folder = tempfile.mkdtemp(prefix="fleet-chromium.")
# As root Chromium runs only without its sandbox; its shared memory in
# /tmp, as a fresh root's /dev/shm may be no tmpfs of its own.
browser = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
           "--user-data-dir=" + profile_folder, "--window-size=1000,1400"]
def run(*arguments):
    done = subprocess.run(browser + list(arguments) + ["file://" + table + ".html"], capture_output=True, text=True,
                          timeout=300)
    return done.stdout if done.returncode == 0 else fail("chromium ended with %d: %s" % (done.returncode, done.stderr))

class Page(HTMLParser):
    """The table's rows (host, verdict) in order, and the hosts of the
    sections that hold a histogram."""
    def __init__(self):
        super().__init__()
        self.rows, self.charted, self.section = [], [], None
    def handle_starttag(self, tag, attributes):
        attributes = dict(attributes)
        classes = (attributes.get("class") or "").split()
        if tag == "tr" and "controller" in classes:
            self.rows.append((attributes["data-host"], attributes["data-verdict"]))
        if tag == "section":
            self.section = attributes.get("data-host")
        if tag == "svg" and "histogram" in classes:
            self.charted.append(self.section)
shown = Page()
shown.feed(run("--dump-dom"))
ranks = {"failure": 0, "error": 1, "pass": 2}
order = sorted(expected, key=lambda entry: (ranks[kind(entry[4])], -int(rows[entry[0]]["max_delay_ms"] or 0), entry[0]))
if shown.rows != [(entry[0], entry[4]) for entry in order]:
    fail("the page's rows, as rendered: %s, expected worst first %s" % (shown.rows, [(e[0], e[4]) for e in order]))
if sorted(shown.charted, key=str) != sorted(with_profile):
    fail("the page's histograms for %s, expected one for each of %s" % (shown.charted, sorted(with_profile)))

def colours(path):
    """The colours of a PNG's pixels, as RGB bytes."""
    with PIL.Image.open(path) as image:
        return {bytes(colour) for _, colour in image.convert("RGB").getcolors(maxcolors=1 << 24)}
screenshot = os.path.join(profile_folder, "page.png")
run("--screenshot=" + screenshot)
# The first rows' colour (fleet/report.html.j2: a failure's) and the bars of
# slow_outputs' histogram beside it.
seen = colours(screenshot)
wanted = {"failure": "f7b5b0", "bar": "3465a4"}
missing = [name for name, colour in wanted.items() if bytes.fromhex(colour) not in seen]
if missing:
    fail("the screenshot %s shows %d colours, not those of %s" % (screenshot, len(seen), ", ".join(missing)))
shutil.copy(screenshot, table + ".png")
shutil.rmtree(profile_folder)
print("ok: the page as Chromium renders it: %d rows worst first, %d histograms, a screenshot of %d colours"
      % (len(shown.rows), len(shown.charted), len(seen)))
