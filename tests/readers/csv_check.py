#!/usr/bin/python3
"""Reads survey.csv with pandas, tab-separated, and checks that it forms a
rectangular table whose column count is the number of fields that
survey.txt names ("Field: n", "Field:  n" and "Field n: text", numbered 1,
2, ... in order).

Usage: csv_check.py DIR   (DIR holds survey.txt and survey.csv)
Exit status 0 when all agree, 1 otherwise.
"""
import csv
import os
import re
import sys

import pandas

import pinned

FIELD = re.compile(r"^Field(?::  ?(\d+)$| (\d+): )")


def main():
    pinned.pin_output()
    job_dir = sys.argv[1]
    problems = []
    numbers = []
    with open(os.path.join(job_dir, "survey.txt"), encoding="latin-1") as f:
        for line in f:
            m = FIELD.match(line.rstrip("\n"))
            if m:
                numbers.append(int(m.group(1) or m.group(2)))
    if numbers != list(range(1, len(numbers) + 1)):
        problems.append("field numbers %s" % numbers)
    path = os.path.join(job_dir, "survey.csv")
    table = pandas.read_csv(path, sep="\t", header=None, dtype=str, keep_default_na=False,
                            quoting=csv.QUOTE_NONE, encoding="latin-1")
    with open(path, encoding="latin-1") as f:
        lines = f.read().split("\n")
    if lines[-1] != "":
        problems.append("the last line has no line end")
    lines = lines[:-1]
    if table.shape != (len(lines), len(numbers)):
        problems.append("pandas reads %s, survey.txt names %d fields of %d lines"
                        % (table.shape, len(numbers), len(lines)))
    for n, line in enumerate(lines):
        if line.count("\t") != len(numbers) - 1:
            problems.append("line %d has %d fields" % (n + 1, line.count("\t") + 1))
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
