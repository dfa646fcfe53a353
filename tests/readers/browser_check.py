#!/usr/bin/python3
"""Loads a codebook.html in headless chromium and checks what the browser
built from it.

Usage: browser_check.py CODEBOOK

The page must load without any console message (a script error, a
blocked request, a content-security-policy violation all log one); the
DOM chromium dumps after its scripts ran must hold the same sections and
rows with the same data- attributes as the file, one section per entry of
the table of contents and in its order, every row's shown count equal to
its data-count, the filter box shown by the page's script, and nothing
that refers to anything outside the page. Exit status 0 when all holds,
1 otherwise.
"""
import os
import shutil
import subprocess
import sys
import tempfile
from html.parser import HTMLParser

# --disable-dev-shm-usage: a container's small /dev/shm would end the
# renderer; logging to stderr shows every console message.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
         "--disable-component-update", "--disable-sync", "--no-first-run",
         "--disable-dev-shm-usage", "--enable-logging=stderr", "--v=0"]


class Page(HTMLParser):
    """Sections, rows, table of contents and outside references of a page."""

    def __init__(self):
        super().__init__()
        self.sections, self.contents, self.outside = [], [], []
        self.filter_hidden = None
        self.in_toc = False
        self.cell = None  # text of the row's cells so far, while in a row

    def handle_starttag(self, tag, attrs):
        a = dict(attrs)
        for key in ("src", "href", "action", "srcset", "poster", "data"):
            if key in a and not (key == "href" and a[key].startswith("#")):
                self.outside.append("<%s %s=%r>" % (tag, key, a[key]))
        if tag in ("link", "iframe", "img", "object", "embed", "base"):
            self.outside.append("<%s>" % tag)
        if tag == "table" and a.get("id") == "toc":
            self.in_toc = True
        elif tag == "a" and self.in_toc:
            self.contents.append(a.get("href", ""))
        elif tag == "input" and a.get("id") == "filter":
            self.filter_hidden = "hidden" in a
        elif tag == "section" and "data-type" in a:
            self.sections.append({"attrs": a, "rows": []})
        elif tag == "tr" and "data-code" in a and self.sections:
            self.sections[-1]["rows"].append({"attrs": a, "cells": []})
            self.cell = self.sections[-1]["rows"][-1]["cells"]
        elif tag in ("td", "th") and self.cell is not None:
            self.cell.append("")

    def handle_endtag(self, tag):
        if tag == "table":
            self.in_toc = False
        elif tag == "tr":
            self.cell = None

    def handle_data(self, data):
        if self.cell:
            self.cell[-1] += data


def parse(text):
    page = Page()
    page.feed(text)
    page.close()
    return page


def check(codebook):
    problems = []
    browser = shutil.which("chromium")
    if browser is None:
        return ["chromium is missing (scripts/install-deps test)"]
    with open(codebook, encoding="utf-8") as f:
        source = parse(f.read())
    with tempfile.TemporaryDirectory() as profile:
        url = "file://" + os.path.abspath(codebook)
        try:
            p = subprocess.run([browser] + FLAGS + ["--user-data-dir=" + profile, "--dump-dom", url],
                               capture_output=True, encoding="utf-8", errors="replace",
                               timeout=120)
        except subprocess.TimeoutExpired:
            return ["chromium did not end within 120 s"]
    if p.returncode != 0:
        problems.append("chromium: status %d: %s" % (p.returncode, p.stderr[-2000:]))
    problems += ["console: " + line for line in p.stderr.split("\n") if ":CONSOLE" in line]
    dom = parse(p.stdout)

    if not dom.sections:
        problems.append("the DOM holds no section")
    if [s["attrs"] for s in dom.sections] != [s["attrs"] for s in source.sections]:
        problems.append("the DOM's sections differ from the file's")
    for got, want in zip(dom.sections, source.sections):
        name = want["attrs"].get("data-name")
        if [r["attrs"] for r in got["rows"]] != [r["attrs"] for r in want["rows"]]:
            problems.append("%s: the DOM's rows differ from the file's" % name)
        for r in got["rows"]:
            shown = [c.strip() for c in r["cells"]]
            count = r["attrs"].get("data-count")
            # Cells: code, label, (variable,) count, share, then per weight.
            at = 3 if want["attrs"]["data-type"] == "multiple" else 2
            if len(shown) <= at or shown[at] != count:
                problems.append("%s: row %r shows %r, data-count %r" %
                                (name, r["attrs"].get("data-code"), shown, count))
    ids = ["#" + s["attrs"].get("id", "") for s in dom.sections]
    if dom.contents != ids:
        problems.append("contents %s, sections %s" % (dom.contents[:10], ids[:10]))
    if dom.filter_hidden is not False:
        problems.append("the page's script did not show the filter box")
    problems += ["refers outside the page: " + o for o in dom.outside + source.outside]
    return problems


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    problems = check(sys.argv[1])
    for p in problems[:30]:
        print(p[:2000])
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
