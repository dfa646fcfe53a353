"""The encodings and the locale the reader checks pin, so that a check gives
the same verdict in any locale: LC_ALL=C, a UTF-8 locale, or a locale that
is not installed.

- Every file is opened with its encoding named: our outputs hold the job's
  8-bit texts as ISO-8859-1 bytes; what PSPP, R and readstat write is UTF-8.
- PSPP reads syntax files as ISO-8859-1 (SYNTAX_ENCODING). Left to guess, it
  takes the locale's encoding, ASCII in the C locale, and commands.xsp's
  "r\\xe9gion" turns into "r?gion".
- Every reader runs in the C.UTF-8 locale (reader_env): R writes haven's
  UTF-8 texts as "<U+00E9>" in the C locale and warns at start-up when the
  locale is not installed; PSPP would translate the words "error" and
  "warning" that the checks look for.
- What a check prints is UTF-8 (pin_output), whatever the locale says.
"""
import os
import subprocess
import sys

SYNTAX_ENCODING = "ISO-8859-1"


def reader_env():
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LC_") and k not in ("LANG", "LANGUAGE")}
    env["LC_ALL"] = "C.UTF-8"
    return env


def run(command, **kwargs):
    """Runs a reader in the pinned locale; its output is read as UTF-8."""
    return subprocess.run(command, env=reader_env(), capture_output=True, text=True,
                          encoding="utf-8", errors="replace", **kwargs)


def pspp(*args, **kwargs):
    """Runs PSPP on a syntax file with the syntax encoding pinned."""
    return run(["pspp", "--syntax-encoding=" + SYNTAX_ENCODING, *args], **kwargs)


def pin_output():
    sys.stdout.reconfigure(encoding="utf-8", errors="backslashreplace")
    sys.stderr.reconfigure(encoding="utf-8", errors="backslashreplace")
