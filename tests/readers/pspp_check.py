#!/usr/bin/python3
"""Reads a commands.xsp / data.xsp pair with GNU PSPP and checks what PSPP
reports against what the files declare.

Usage: pspp_check.py DIR   (DIR holds commands.xsp and data.xsp)

The syntax file is pulled in twice, with INCLUDE (interactive syntax rules)
and with INSERT ... SYNTAX=BATCH; each run must end without any error or
warning. DISPLAY DICTIONARY must show the declared names, variable labels
and value labels, and the saved system file (dumped by pspp-convert) must
hold the values of data.xsp. Exit status 0 when all agree, 1 otherwise.
"""
import csv
import io
import os
import sys
import tempfile

import pinned


def unquote(text):
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        raise ValueError("not a quoted string: " + text)
    return text[1:-1].replace('""', '"')


def parse_commands(path):
    """Names, variable labels and value labels as commands.xsp declares them."""
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    names, labels, values = [], {}, {}
    i = 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("DATA LIST "):
            i += 1
            while lines[i] != "  .":
                names.append(lines[i].strip())
                i += 1
        elif line.startswith("VARIABLE LABELS "):
            name, rest = line[len("VARIABLE LABELS "):].split(" ", 1)
            labels[name] = unquote(rest[:-1])
        elif line.startswith("VALUE LABELS "):
            name = line[len("VALUE LABELS "):]
            i += 1
            while lines[i] != ".":
                code, text = lines[i].strip().split(" ", 1)
                values.setdefault(name, {})[float(code)] = unquote(text)
                i += 1
        i += 1
    return names, labels, values


def tables(text):
    """The tables of PSPP's CSV output: title -> list of rows."""
    result, title, rows = {}, None, []
    for block in text.split("\n\n"):
        block = block.strip("\n")
        if not block.startswith("Table: "):
            continue
        head, _, body = block.partition("\n")
        result[head[len("Table: "):]] = list(csv.reader(io.StringIO(body)))
    return result


def run_pspp(job_dir, work, include, problems):
    syntax = os.path.join(work, "read.sps")
    sav = os.path.join(work, "read.sav")
    with open(syntax, "w", encoding=pinned.SYNTAX_ENCODING) as f:
        f.write("SET TVARS=NAMES TNUMBERS=VALUES.\n")
        f.write(include + "\n")
        f.write("DISPLAY DICTIONARY.\n")
        f.write('SAVE OUTFILE="%s".\n' % sav)
    out = os.path.join(work, "out.csv")
    p = pinned.pspp("-O", "format=csv", "-o", out, syntax, cwd=job_dir)
    report = open(out, encoding="utf-8", errors="replace").read() if os.path.exists(out) else ""
    if p.returncode != 0 or p.stderr.strip():
        problems.append("%s: status %d: %s" % (include, p.returncode, p.stderr.strip()))
    for line in report.split("\n"):
        if "error" in line.lower() or "warning" in line.lower():
            problems.append("%s: %s" % (include, line))
    return tables(report), sav


def check(job_dir):
    names, labels, values = parse_commands(os.path.join(job_dir, "commands.xsp"))
    with open(os.path.join(job_dir, "data.xsp"), encoding="latin-1") as f:
        tokens = f.read().split()
    problems = []
    for include in ('INCLUDE FILE="commands.xsp".', 'INSERT FILE="commands.xsp" SYNTAX=BATCH.'):
        with tempfile.TemporaryDirectory() as work:
            got, sav = run_pspp(job_dir, work, include, problems)
            rows = got.get("Variables", [])
            if not rows:
                problems.append("%s: no variable table" % include)
                continue
            head = rows[0]
            col_label = head.index("Label") if "Label" in head else None
            seen = [r[0] for r in rows[1:]]
            if seen != names:
                problems.append("%s: names %s, declared %s" % (include, seen, names))
            for r in rows[1:]:
                label = r[col_label] if col_label is not None else ""
                if label != labels.get(r[0], ""):
                    problems.append("%s: label of %s is %r, declared %r"
                                    % (include, r[0], label, labels.get(r[0], "")))
            seen_values, current = {}, None
            for r in got.get("Value Labels", [])[1:]:
                current = r[0] or current
                seen_values.setdefault(current, {})[float(r[1])] = r[2]
            if seen_values != values:
                problems.append("%s: value labels %s, declared %s" % (include, seen_values, values))
            dump = os.path.join(work, "data.csv")
            converted = pinned.run(["pspp-convert", sav, dump])
            if converted.returncode != 0:
                problems.append("%s: pspp-convert: %s" % (include, converted.stderr.strip()))
                continue
            with open(dump, encoding="utf-8") as f:
                data = list(csv.reader(f))
            if not names:
                continue
            if data[0] != names:
                problems.append("%s: data header %s" % (include, data[0]))
            cases = [tokens[i:i + len(names)] for i in range(0, len(tokens), len(names))]
            if len(cases) != len(data) - 1:
                problems.append("%s: %d cases read, %d written" % (include, len(data) - 1, len(cases)))
            for n, (want, row) in enumerate(zip(cases, data[1:])):
                if [float(x) for x in want] != [float(x) for x in row]:
                    problems.append("%s: case %d is %s, written %s" % (include, n + 1, row, want))
    return problems


def main():
    pinned.pin_output()
    problems = check(sys.argv[1])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
