#!/usr/bin/python3
"""Reads a survey.sav with GNU PSPP, R haven and the readstat command and
checks it against the SPSS syntax form of the same job.

Usage: sav_check.py SAV SPSSDIR SCALE [SETS]
       sav_check.py --clean SAV...   (each file read without an error or warning)

SPSSDIR holds commands.xsp and data.xsp written with -q 255 -r 120 -m .
(labels not cut, "." for a missing value), and may hold survey.csv of the
CSV form written with -m ., whose numbers the scale variables must equal
exactly (else they are compared with data.xsp's six decimals). The last SCALE variables must be
scale, the others nominal. SETS, when given, lists the multiple response
sets, "$name=member member" separated by ";" (empty: none). Every reader
must read the file without an error or warning, and find the names of
commands.xsp, its variable labels (a yes/no variable's with its element's
text, a weight's its name without "@"), value labels, measurement levels,
display widths that show the whole print format, sets whose members' labels
differ, the file label and values (system-missing where data.xsp has ".")
as stated.
Exit status 0 when all agree, 1 otherwise.
"""
import csv
import io
import os
import re
import sys
import tempfile

import pinned
from pspp_check import parse_commands, tables


def job_text(text):
    """An 8-bit job text (commands.xsp read as ISO-8859-1) as the system file
    holds it: bytes 128 to 159 decoded by Python's Windows-1252 codec, the
    five it leaves undefined and control characters as blanks; cut to a
    limit by the caller."""
    out = []
    for ch in text:
        b = ord(ch)
        if b < 32 or b == 127:
            out.append(" ")
        elif 128 <= b < 160:
            try:
                out.append(bytes([b]).decode("cp1252"))
            except UnicodeDecodeError:
                out.append(" ")
        else:
            out.append(ch)
    return "".join(out)


def cut(text, limit):
    while len(text.encode("utf-8")) > limit:
        text = text[:-1]
    return text


def element_of(value_labels):
    """The element text of a yes/no variable, whose value labels are "no
    <text>" and "<text>" (commands.xsp may cut the first); None for any
    other variable."""
    texts = list(value_labels.values())
    if len(texts) == 2 and texts[0].startswith("no ") and ("no " + texts[1]).startswith(texts[0]):
        return texts[1]
    return None


def variable_label(label, value_labels):
    """The system file's label of a variable with this label and these value
    labels in commands.xsp: a yes/no variable's is "<label> - <element>",
    the element whole up to 120 bytes, the label cut to keep 255 in all."""
    element = element_of(value_labels)
    if not element:
        return cut(job_text(label), 255)
    element = cut(job_text(element), 120)
    label = cut(job_text(label), 255 - 3 - len(element.encode("utf-8")))
    return label + " - " + element if label else element


def title_of(path):
    with open(path, encoding="latin-1") as f:
        for line in f:
            if line.startswith("TITLE "):
                t = line[len("TITLE "):].rstrip("\n")[:-1]
                return t[1:-1].replace('""', '"') if t.startswith('"') else t
    return ""


HAVEN_SCRIPT = (
    'suppressMessages(library(haven)); d <- read_sav(commandArgs(TRUE)[1])\n'
    'cat("label\\t", attr(d, "label"), "\\n", sep = "")\n'
    'for (v in names(d)) { x <- d[[v]]; l <- attr(x, "labels")\n'
    '  cat("var\\t", v, "\\t", attr(x, "label", exact = TRUE), "\\n", sep = "")\n'
    '  for (i in seq_along(l)) cat("value\\t", v, "\\t", sprintf("%.17g", l[[i]]),'
    ' "\\t", names(l)[i], "\\n", sep = "") }\n'
    'for (i in seq_len(nrow(d))) cat("case\\t", paste(ifelse(is.na(unlist(d[i, ])),'
    ' ".", sprintf("%.17g", unlist(d[i, ]))), collapse = "\\t"), "\\n", sep = "")\n')


def read_pspp(sav, work, problems):
    """PSPP's tables of the file's dictionary, sets and cases."""
    syntax = os.path.join(work, "read.sps")
    with open(syntax, "w", encoding=pinned.SYNTAX_ENCODING) as f:
        f.write("SET TVARS=NAMES TNUMBERS=VALUES.\nGET FILE='%s'.\nDISPLAY DICTIONARY.\n"
                "MRSETS /DISPLAY NAME=ALL.\nLIST.\n" % sav)
    out = os.path.join(work, "out.csv")
    p = pinned.pspp("-O", "format=csv", "-o", out, syntax)
    report = open(out, encoding="utf-8", errors="replace").read() if os.path.exists(out) else ""
    if p.returncode != 0 or p.stderr.strip():
        problems.append("pspp: status %d: %s" % (p.returncode, p.stderr.strip()))
    for line in report.split("\n"):
        if "error" in line.lower() or "warning" in line.lower():
            problems.append("pspp: " + line)
    return tables(report)


def read_haven(sav, work, problems):
    """R haven's file label, variables, value labels and cases, as lines of
    tab-separated fields."""
    script = os.path.join(work, "read.R")
    with open(script, "w", encoding="utf-8") as f:
        f.write(HAVEN_SCRIPT)
    p = pinned.run(["Rscript", script, sav])
    if p.returncode != 0 or p.stderr.strip():
        problems.append("haven: status %d: %s" % (p.returncode, p.stderr.strip()))
    return [l.split("\t") for l in p.stdout.split("\n") if l]


def read_readstat(sav, work, problems):
    """The readstat command's CSV of the cases, after its own report of the
    file; anything on its standard error but the "Converted" line counts."""
    p = pinned.run(["readstat", sav])
    if p.returncode != 0 or p.stderr.strip():
        problems.append("readstat: status %d: %s" % (p.returncode, p.stderr.strip()))
    dump = os.path.join(work, "readstat.csv")
    p = pinned.run(["readstat", sav, dump])
    said = [l for l in p.stderr.split("\n") if l and not l.startswith("Converted ")]
    if p.returncode != 0 or said:
        problems.append("readstat: status %d: %s" % (p.returncode, "\n".join(said)))
        return []
    with open(dump, encoding="utf-8", errors="replace") as f:
        return list(csv.reader(f))


def clean_read(sav):
    """What PSPP, R haven and readstat report reading the file: nothing when
    each reads it without an error or a warning."""
    problems = []
    with tempfile.TemporaryDirectory() as work:
        read_pspp(sav, work, problems)
        read_haven(sav, work, problems)
        read_readstat(sav, work, problems)
    return problems


def check(sav, spss_dir, scale, sets_arg):
    problems = []
    spss_names, labels, values = parse_commands(os.path.join(spss_dir, "commands.xsp"))
    with open(os.path.join(spss_dir, "data.xsp"), encoding="latin-1") as f:
        tokens = f.read().split()
    n = len(spss_names)
    # A weight ("@weight<n>" in commands.xsp, which gives it no label) is
    # labelled as Triple-S XML labels it: its name without the "@".
    want_labels = [v[1:] if v not in labels and re.fullmatch(r"@weight\d", v)
                   else variable_label(labels.get(v, ""), values.get(v, {})) for v in spss_names]
    want_values = [{c: cut(job_text(t), 120) for c, t in values.get(v, {}).items()}
                   for v in spss_names]
    want_levels = ["Nominal"] * (n - scale) + ["Scale"] * scale
    # The header pads the file label with blanks: trailing ones do not count.
    want_title = cut(job_text(title_of(os.path.join(spss_dir, "commands.xsp"))), 64).rstrip(" ")
    cases = [tokens[i:i + n] for i in range(0, len(tokens), n)] if n else []
    # The scale fields at the precision the system file stores: survey.csv's
    # texts, whose decimals are the fixed-column forms' (data.xsp's "%f"
    # has six).
    csv_path = os.path.join(spss_dir, "survey.csv")
    if os.path.exists(csv_path) and scale:
        with open(csv_path, encoding="latin-1") as f:
            records = [line.rstrip("\n").split("\t") for line in f]
        if len(records) != len(cases):
            problems.append("survey.csv has %d records, data.xsp %d" % (len(records), len(cases)))
        for case, record in zip(cases, records):
            case[n - scale:] = record[len(record) - scale:]

    with tempfile.TemporaryDirectory() as work:
        got = read_pspp(sav, work, problems)
        rows = got.get("Variables", [[]])
        head = rows[0]
        names = [r[0] for r in rows[1:]]
        if len(names) != n:
            problems.append("pspp: %d variables, the syntax form has %d" % (len(names), n))
        if names != spss_names:
            problems.append("pspp: names %s, commands.xsp has %s" % (names, spss_names))
        # PSPP leaves the Label column out when no variable has a label.
        at_label = head.index("Label") if "Label" in head else None
        for r, label, level in zip(rows[1:], want_labels, want_levels):
            got_label = r[at_label] if at_label is not None else ""
            if got_label != label:
                problems.append("pspp: label of %s is %r, wanted %r" % (r[0], got_label, label))
            if r[head.index("Measurement Level")] != level:
                problems.append("pspp: %s is %s, wanted %s"
                                % (r[0], r[head.index("Measurement Level")], level))
            # A data view shows the whole print format ("F w.d").
            print_width = int(r[head.index("Print Format")][1:].split(".")[0])
            if int(r[head.index("Width")]) < print_width:
                problems.append("pspp: %s is %s columns wide, its format %s"
                                % (r[0], r[head.index("Width")], r[head.index("Print Format")]))
        seen, current = {}, None
        for r in got.get("Value Labels", [])[1:]:
            current = r[0] or current
            seen.setdefault(current, {})[float(r[1])] = r[2]
        wanted = {name: v for name, v in zip(names, want_values) if v}
        if seen != wanted:
            problems.append("pspp: value labels %s, wanted %s" % (seen, wanted))
        set_rows = got.get("Multiple Response Sets", [])
        at_members = set_rows[0].index("Member Variables") if set_rows else None
        sets = {r[0]: r[at_members].split("\n") for r in set_rows[1:]}
        if sets_arg is not None:
            want_sets = dict((s.split("=")[0], s.split("=")[1].split(" "))
                             for s in sets_arg.split(";") if s)
            if sets != want_sets:
                problems.append("pspp: sets %s, wanted %s" % (sets, want_sets))
        # SPSS shows a set's categories by their variables' labels.
        label_of = dict((r[0], r[at_label] if at_label is not None else "") for r in rows[1:])
        for name, members in sets.items():
            member_labels = [label_of.get(m) for m in members]
            if len(set(member_labels)) != len(member_labels):
                problems.append("pspp: the members of %s share labels: %s" % (name, member_labels))

        lines = read_haven(sav, work, problems)
        r_label = [l[1] for l in lines if l[0] == "label"]
        if r_label != [want_title]:
            problems.append("haven: file label %s, wanted %r" % (r_label, want_title))
        r_vars = [(l[1], l[2]) for l in lines if l[0] == "var"]
        if r_vars != list(zip(names, want_labels)):
            problems.append("haven: variables %s, wanted %s" % (r_vars, list(zip(names, want_labels))))
        r_values = {}
        for l in lines:
            if l[0] == "value":
                r_values.setdefault(l[1], {})[float(l[2])] = l[3]
        # haven drops the blanks at the end of a value label ("no " of a yes/no
        # variable whose element has no text).
        wanted_by_haven = {name: {c: t.rstrip(" ") for c, t in v.items()}
                           for name, v in wanted.items()}
        if r_values != wanted_by_haven:
            problems.append("haven: value labels %s, wanted %s" % (r_values, wanted_by_haven))
        r_cases = [l[1:] for l in lines if l[0] == "case"]
        if len(r_cases) != len(cases):
            problems.append("haven: %d cases, data.xsp has %d" % (len(r_cases), len(cases)))
        number = lambda t: None if t == "." else float(t)
        # Without survey.csv the scale fields come from data.xsp's six
        # decimals, against the seven the system file holds.
        near = 0 if os.path.exists(csv_path) else 1e-6
        same = lambda a, b: a == b or (a is not None and b is not None and abs(a - b) <= near)
        for i, (want, got_case) in enumerate(zip(cases, r_cases)):
            if len(want) != len(got_case) or not all(
                    same(number(a), number(b)) for a, b in zip(want, got_case)):
                problems.append("haven: case %d is %s, data.xsp %s" % (i + 1, got_case, want))

        csv_rows = read_readstat(sav, work, problems)
        if cases and csv_rows and len(csv_rows) != len(cases) + 1:
            problems.append("readstat: %d rows, data.xsp has %d" % (len(csv_rows) - 1, len(cases)))
    return problems


def main():
    pinned.pin_output()
    args = sys.argv[1:]
    if len(args) >= 2 and args[0] == "--clean":
        problems = [sav + ": " + p for sav in args[1:] for p in clean_read(sav)]
    elif len(args) >= 3 and args[0] != "--clean":
        problems = check(args[0], args[1], int(args[2]), args[3] if len(args) > 3 else None)
    else:
        print(__doc__)
        return 2
    for p in problems[:20]:
        print(p[:2000])
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
