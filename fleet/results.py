#!/usr/bin/env python3
"""The fleet's table: each controller's run (Ansible's results by host, as JSON
on standard input) as a row with its verdict, in OUT.csv and OUT.md, and what
each printed in OUT.json; the Markdown table also on standard output. Status 1 when any controller fails,
naming them on standard error; 2 on bad options (docs/fleet.md).

  results.py --single-file FILE --out OUT --parameters "ITER DELAY FIRST LAST"
             [--max-delay-ms N] [--highest-class CLASS] < RESULTS.json
"""
import argparse
import csv
import json
import re
import sys

CLASSES = ["<20ms", "20..30ms", "30..40ms", ">40ms"]
REPORT = re.compile(r"total execution time is: (\d+)s\nnumber of delays:\n<20ms: (\d+)\n20\.\.30ms: (\d+)\n"
                    r"30\.\.40ms: (\d+)\n>40ms: (\d+)\nmaximum delay: (\d+)ms\n?\Z")
REFUSED = re.compile(r"output \d+ refused every write for 10 s; run stopped after \d+ of \d+ iterations")
CHOICE = re.compile(r"^plc_do_test: chose (\S+)", re.M)
STOPPED = re.compile(r"^plc_do_test fleet: stopped after (\d+) s$", re.M)
# The program's status as the controller's side of the play saw it: ssh itself
# ends with 255 when it fails, as the program does on parameters it refuses.
STATUS = re.compile(r"^plc_do_test fleet: status (\d+)$", re.M)
COLUMNS = ["host", "abi", "identity", "status", "total_s"] + CLASSES + ["max_delay_ms", "verdict", "reason"]


def identities(single_file):
    """The identity line of each plc_do_test binary inside the single file, by ABI."""
    with open(single_file, "rb") as file:
        data = file.read()
    embedded = re.search(rb'^embedded="([^"]*)"$', data, re.M)
    found = {}
    for entry in (embedded[1].decode().split() if embedded else []):
        name, block, size = entry.split(":")
        abi, _, program = name.partition("/")
        if program != "plc_do_test":
            continue
        binary = data[int(block) * 512:int(block) * 512 + int(size)]
        line = re.search(rb"plc_do_test [0-9.]+ [a-z0-9]+ commit [0-9a-z+]+", binary)
        found[abi] = line[0].decode() if line else ""
    return found


# ssh's note on a host key it has just learnt: not why a host could not be reached.
KEY_LEARNT = re.compile(r"Warning: Permanently added \S+ \(\S+\) to the list of known hosts\.")


def unreachable_reason(message):
    """Ansible's words for an unreached host, on one line."""
    return " ".join(KEY_LEARNT.sub("", message or "").split()) or "not reached over ssh"


def first_line(text):
    return next((line.strip() for line in (text or "").splitlines() if line.strip()), "")


def said(stderr):
    """What the launcher, the loader or the program said, without ssh's notes
    and the launcher's choice."""
    return "\n".join(line for line in KEY_LEARNT.sub("", stderr).splitlines()
                     if not CHOICE.match(line) and not STATUS.match(line))


def row_of(host, result, known, criteria):
    """One controller's row: what it reported, and its verdict with the reason."""
    row = dict.fromkeys(COLUMNS, "")
    row["host"] = host
    stdout, stderr = result.get("stdout") or "", result.get("stderr") or ""
    choice = CHOICE.search(stderr)
    if choice:
        row["abi"] = choice[1]
        row["identity"] = known.get(choice[1], "")
    if not result:
        return dict(row, verdict="no result", reason="the play did not run on it")
    if result.get("unreachable"):
        return dict(row, verdict="unreachable", reason=unreachable_reason(result.get("msg")))
    ended = STATUS.search(stderr)
    if not ended:
        words = first_line(said(stderr)) or first_line(result.get("msg"))
        return dict(row, verdict="not run", reason="no exit status" + (": " + words if words else ""))
    status = int(ended[1])
    row["status"] = str(status)
    report = REPORT.search(stdout)
    if report:
        total, *counts, longest = (int(figure) for figure in report.groups())
        row.update(total_s=total, max_delay_ms=longest, **dict(zip(CLASSES, counts)))
    stopped = STOPPED.search(stderr)
    if stopped:
        return dict(row, verdict="stopped", reason="no end within %s s: stopped on the controller" % stopped[1])
    if status == 1 and report and report.start() == 0:
        faults = criteria_faults(counts, longest, criteria)
        return dict(row, verdict="fail" if faults else "pass", reason="; ".join(faults))
    if status == 2 and report:
        refused = REFUSED.search(stdout)
        return dict(row, verdict="write refused", reason=refused[0] if refused else first_line(stdout))
    if status == 74:
        return dict(row, verdict="report lost", reason="the report could not be written (status 74)")
    if status == 255:
        return dict(row, verdict="parameters refused", reason=first_line(stdout) or "status 255")
    if status in (126, 127):
        return dict(row, verdict="not started", reason=first_line(said(stderr)) or "status %d" % status)
    words = first_line(said(stderr)) or first_line(stdout)
    return dict(row, verdict="no report", reason="status %s, no report%s" % (status, ": " + words if words else ""))


def criteria_faults(counts, longest, criteria):
    """What a completed run's figures break of the run's criteria."""
    faults = []
    if criteria.max_delay_ms is not None and longest > criteria.max_delay_ms:
        faults.append("longest delay %d ms, above %d ms" % (longest, criteria.max_delay_ms))
    if criteria.highest_class:
        above = CLASSES[CLASSES.index(criteria.highest_class) + 1:]
        over = ["%d %s" % (count, name) for name, count in zip(CLASSES, counts) if name in above and count]
        if over:
            faults.append("delays above %s: %s" % (criteria.highest_class, ", ".join(over)))
    return faults


def markdown(rows, parameters, criteria):
    named = ["longest delay at most %d ms" % criteria.max_delay_ms] if criteria.max_delay_ms is not None else []
    named += ["no delay above %s" % criteria.highest_class] if criteria.highest_class else []
    lines = ["# plc_do_test on %d controllers" % len(rows), "",
             "Parameters: `plc_do_test %s 0`. Criteria: %s." % (parameters, ", ".join(named) or
                                                                  "a completed run with its report"), "",
             "| " + " | ".join(COLUMNS) + " |", "|" + "---|" * len(COLUMNS)]
    for row in rows:
        lines.append("| " + " | ".join(str(row[column]).replace("|", "\\|") for column in COLUMNS) + " |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--single-file", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--parameters", required=True)
    parser.add_argument("--max-delay-ms", type=lambda text: int(text) if text != "" else None, default=None)
    parser.add_argument("--highest-class", choices=CLASSES + [""], default="")
    criteria = parser.parse_args()
    results = json.load(sys.stdin)
    known = identities(criteria.single_file)
    rows = [row_of(host, results[host] or {}, known, criteria) for host in sorted(results)]
    with open(criteria.out + ".csv", "w", newline="") as file:
        writer = csv.DictWriter(file, COLUMNS)
        writer.writeheader()
        writer.writerows(rows)
    table = markdown(rows, criteria.parameters, criteria)
    with open(criteria.out + ".md", "w") as file:
        file.write(table)
    # Each controller's own words as they came, reports in full, beside the figures.
    with open(criteria.out + ".json", "w") as file:
        json.dump({host: {key: (results[host] or {}).get(key) for key in ("stdout", "stderr", "msg")}
                   for host in sorted(results)}, file, indent=1)
        file.write("\n")
    print(table + "\n(%s.csv, %s.md, %s.json)" % (criteria.out, criteria.out, criteria.out))
    failed = ["%s: %s%s" % (row["host"], row["verdict"], ": " + row["reason"] if row["reason"] else "")
              for row in rows if row["verdict"] != "pass"]
    if failed:
        print("%d of %d controllers failed:\n" % (len(failed), len(rows)) + "\n".join(failed), file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
