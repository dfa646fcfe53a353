#!/usr/bin/python3
"""Checks survey.xml with xmllint and against survey.asc: the variables'
positions follow one another from column 1 without gaps, and every line of
survey.asc is as long as the record.

Usage: xml_check.py DIR   (DIR holds survey.xml and survey.asc)
"""
import re
import sys

import pinned

pinned.pin_output()
d = sys.argv[1]
lint = pinned.run(["xmllint", "--noout", d + "/survey.xml"])
if lint.returncode != 0 or lint.stderr:
    sys.exit("xmllint: status %d: %s" % (lint.returncode, lint.stderr.strip()))
xml = open(d + "/survey.xml", encoding="latin-1").read()
column = 1
for start, finish in re.findall(r'<position start="(-?\d+)"(?: finish="(-?\d+)")?/>', xml):
    if int(start) != column or int(finish or start) < int(start):
        sys.exit(f"position {start}-{finish} does not follow column {column - 1}")
    column = int(finish or start) + 1
for n, line in enumerate(open(d + "/survey.asc", encoding="latin-1").read().splitlines(), 1):
    if len(line) != column - 1:
        sys.exit(f"survey.asc line {n} has {len(line)} columns, the record {column - 1}")
