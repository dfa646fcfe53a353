#!/usr/bin/python3
"""Checks every number of a codebook.html against GNU PSPP's FREQUENCIES
and DESCRIPTIVES on the system file of the same job, unweighted and with
WEIGHT BY each weight variable.

Usage: codebook_check.py CODEBOOK SAV

The codebook's sections are matched with the system file's variables by
position, not by name: a single-coded or numeric section is one variable,
a multiple section one variable per element row. The weight variables are
the last ones, one per entry of data-weighted. Counts must be equal;
weighted counts, means and standard deviations equal within 1e-12
relatively. Exit status 0 when all agree, 1 otherwise.
"""
import csv
import io
import os
import re
import sys
import tempfile
from html.parser import HTMLParser

import pinned


class Sections(HTMLParser):
    """The sections of the page with their rows' data- attributes."""

    def __init__(self):
        super().__init__()
        self.sections = []

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        if tag == "section" and "data-type" in a:
            self.sections.append({"attrs": a, "rows": []})
        elif tag == "tr" and "data-code" in a and self.sections:
            self.sections[-1]["rows"].append(a)


def items(text):
    """The output items of PSPP's CSV output, in order: ("table", title,
    rows) for a table, ("text", line) for a message."""
    result = []
    for block in text.split("\n\n"):
        block = block.strip("\n")
        if block.startswith("Table: "):
            head, _, body = block.partition("\n")
            result.append(("table", head[len("Table: "):], list(csv.reader(io.StringIO(body)))))
        elif block:
            result.append(("text", block))
    return result


def run_pspp(work, sav, commands):
    syntax = os.path.join(work, "check.sps")
    with open(syntax, "w", encoding=pinned.SYNTAX_ENCODING) as f:
        f.write("SET FORMAT=F40.16 TVARS=NAMES TNUMBERS=VALUES.\nGET FILE='%s'.\n" % sav)
        f.write(commands)
    out = os.path.join(work, "out.csv")
    if os.path.exists(out):
        os.remove(out)
    p = pinned.pspp("-O", "format=csv", "-o", out, syntax)
    report = open(out, encoding="utf-8").read() if os.path.exists(out) else ""
    problems = []
    if p.returncode != 0 or p.stderr.strip():
        problems.append("pspp: status %d: %s" % (p.returncode, p.stderr.strip()))
    for line in report.split("\n"):
        # A weight that is zero, negative or missing gets PSPP's warning,
        # and the case counts as the codebook counts it.
        if ("error" in line.lower() or "warning" in line.lower()) and "weight value" not in line:
            problems.append("pspp: " + line)
    return items(report), problems


def number(text):
    text = text.strip()
    return float(text) if text not in ("", ".") else None


def frequencies(tables, names):
    """Per variable: {value: frequency}, the missing frequency."""
    result = {}
    for kind, *rest in tables:
        if kind != "table" or rest[0] not in names:
            continue
        title, rows = rest
        freq, missing, part = {}, 0.0, None
        for row in rows[1:]:
            part = row[0] or part
            if part == "Valid":
                freq[float(row[1])] = float(row[2])
            elif part == "Missing":
                missing += float(row[2])
        result[title] = (freq, missing)
    return result


def descriptives(tables):
    """Per variable: N, mean, standard deviation, minimum, maximum."""
    result = {}
    for kind, *rest in tables:
        if kind != "table" or rest[0] != "Descriptive Statistics":
            continue
        rows = rest[1]
        head = rows[0]
        for row in rows[1:]:
            if row[0].startswith("Valid N") or row[0].startswith("Missing N"):
                continue
            result[row[0]] = {h: number(v) for h, v in zip(head[1:], row[1:])}
    return result


def close(a, b):
    if a is None or b is None:
        return a is None and b is None
    return abs(a - b) <= 1e-12 * max(1.0, abs(a), abs(b))


def listed(text):
    """A data- attribute's number; None where it is empty or "-"."""
    return None if text in ("", "-") else float(text)


def check(codebook, sav):
    parser = Sections()
    with open(codebook, encoding="utf-8") as f:
        parser.feed(f.read())
    sections = parser.sections
    problems = []
    with tempfile.TemporaryDirectory() as work:
        got, p = run_pspp(work, sav, "DISPLAY DICTIONARY.\nSHOW N.\n")
        problems += p
        names = []
        for kind, *rest in got:
            if kind == "table" and rest[0] == "Variables":
                names = [r[0] for r in rest[1][1:]]
        cases = [int(m.group(1)) for kind, *rest in got if kind == "text"
                 for m in [re.search(r"N is (\d+)", rest[0])] if m]
        if len(cases) != 1:
            return problems + ["pspp: no case count"]
        cases = cases[0]

        # Sections to dictionary variables, by position.
        at, nominal, scale = 0, [], []
        for s in sections:
            a = s["attrs"]
            if a["data-type"] == "numeric":
                s["vars"] = names[at:at + 1]
                scale += s["vars"]
                at += 1
            elif a["data-type"] == "single":
                s["vars"] = names[at:at + 1]
                nominal += s["vars"]
                at += 1
            else:
                n = sum(1 for r in s["rows"] if r["data-code"] not in ("any", "none"))
                s["vars"] = names[at:at + n]
                nominal += s["vars"]
                at += n
        if at != len(names):
            return problems + ["the codebook has %d variables, the system file %d" % (at, len(names))]
        weights = 0
        for s in sections:
            for r in s["rows"]:
                weights = len(r["data-weighted"].split())
        weight_vars = names[len(names) - weights:] if weights else []

        for j, weight in enumerate([None] + weight_vars):
            # DESCRIPTIVES prints minimum and maximum in the variable's own
            # print format (the f item's, say F8.2): every number in full.
            commands = "FORMATS %s (F40.16).\n" % " ".join(scale) if scale else ""
            if weight is not None:
                commands += "WEIGHT BY %s.\n" % weight
            if nominal:
                commands += "FREQUENCIES /VARIABLES=%s /STATISTICS=NONE.\n" % " ".join(nominal)
            if scale:
                commands += ("DESCRIPTIVES /VARIABLES=%s /STATISTICS=MEAN STDDEV MIN MAX.\n"
                             % " ".join(scale))
            got, p = run_pspp(work, sav, commands)
            problems += p
            freqs = frequencies(got, set(nominal))
            descs = descriptives(got)
            what = "unweighted" if weight is None else "weighted by " + weight
            problems += compare(sections, j, freqs, descs, cases, what)
    return problems


def compare(sections, j, freqs, descs, cases, what):
    """The codebook's counts (j = 0) or weighted counts (weight j - 1)
    against PSPP's tables."""
    problems = []

    def count(row):
        return float(row["data-count"]) if j == 0 else float(row["data-weighted"].split()[j - 1])

    def expect(name, wanted, got_value):
        if not close(wanted, got_value):
            problems.append("%s, %s: the codebook has %r, PSPP %r" % (name, what, got_value, wanted))

    for s in sections:
        a = s["attrs"]
        name = a["data-name"]
        if a["data-type"] == "numeric":
            d = descs.get(s["vars"][0], {})
            n = d.get("N") or 0.0
            if j == 0:
                expect(name + " valid", n, float(a["data-valid"]))
                expect(name + " missing", cases - n, float(a["data-missing"]))
                for key, attr in (("Minimum", "data-min"), ("Maximum", "data-max"),
                                  ("Mean", "data-mean"), ("Std Dev", "data-sd")):
                    expect("%s %s" % (name, attr), d.get(key), listed(a[attr]))
            else:
                mean = d.get("Mean") if n > 0 else None
                expect(name + " weighted mean", mean, listed(a["data-weighted"].split()[j - 1]))
            continue
        for i, row in enumerate(s["rows"]):
            code = row["data-code"]
            if a["data-type"] == "single":
                freq, missing = freqs.get(s["vars"][0], ({}, 0.0))
                wanted = missing if code == "" else freq.get(float(code), 0.0)
                expect("%s code %r" % (name, code), wanted, count(row))
            elif code in ("any", "none"):
                # Every element's variable is missing exactly when the case
                # holds none of them.
                for var in s["vars"]:
                    freq, missing = freqs.get(var, ({}, 0.0))
                    wanted = sum(freq.values()) if code == "any" else missing
                    expect("%s %s (%s)" % (name, code, var), wanted, count(row))
            else:
                if row.get("data-var") is None:
                    problems.append("%s row %d has no data-var" % (name, i))
                freq, missing = freqs.get(s["vars"][i], ({}, 0.0))
                expect("%s element %s" % (name, s["vars"][i]), freq.get(float(code), 0.0),
                       count(row))
    return problems


def main():
    pinned.pin_output()
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    problems = check(sys.argv[1], sys.argv[2])
    for p in problems[:30]:
        print(p[:2000])
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
