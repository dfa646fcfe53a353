#!/usr/bin/python3
"""Prints an SPSS system file as text, record by record, so that a change to
a survey.sav shows as lines in `git diff` (the textconv of .gitattributes)
and a reviewer reads names, labels, formats, sets and values, not bytes.

Usage: sav_dump.py FILE

Reads the layout tx2sav writes: little-endian, numeric variables only,
bytecode-compressed (bias 100) or uncompressed cases. Every field of the
header, every dictionary record (variables, value labels, documents and the
extension records, subtypes decoded where their layout is known) and every
case is printed; a case's values as Python writes a double (the shortest
text that reads back as the same number), "." for system-missing. A file
that is not a system file of this kind is printed as "not a system file:"
and its first bytes; a file that breaks its own layout (a record that ends
early, bytes after the cases, a case cut short, codes other than 0 after the
last case) gives an error on stderr and exit status 1 after what was read.
"""
import struct
import sys

FORMAT_TYPES = {1: "A", 5: "F", 17: "COMMA", 3: "DOT", 20: "DATE", 22: "DATETIME"}
MEASURES = {0: "unknown", 1: "nominal", 2: "ordinal", 3: "scale"}
ALIGNMENTS = {0: "left", 1: "right", 2: "centre"}


class Broken(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, n, what):
        if n < 0 or self.at + n > len(self.data):
            raise Broken("the file ends inside %s at byte %d" % (what, self.at))
        piece = self.data[self.at:self.at + n]
        self.at += n
        return piece

    def ints(self, n, what):
        return struct.unpack("<%di" % n, self.take(4 * n, what))

    def int(self, what):
        return self.ints(1, what)[0]

    def double(self, what):
        return struct.unpack("<d", self.take(8, what))[0]


def text(raw):
    return raw.decode("utf-8", errors="backslashreplace")


def quoted(raw):
    return '"' + text(raw).replace("\\", "\\\\").replace('"', '\\"') + '"'


def number(v):
    return repr(v).removesuffix(".0") if v == v and abs(v) < 1e300 else repr(v)


def fmt(spec):
    kind, width, decimals = (spec >> 16) & 0xFF, (spec >> 8) & 0xFF, spec & 0xFF
    return "%s%d.%d" % (FORMAT_TYPES.get(kind, "type%d:" % kind), width, decimals)


def header(r, out):
    magic = r.take(4, "the header")
    if magic not in (b"$FL2", b"$FL3"):
        raise ValueError
    product = r.take(60, "the header").rstrip(b" ")
    layout, case_size, compression, weight, ncases = r.ints(5, "the header")
    bias = r.double("the header")
    date, time_, label = r.take(9, "the header"), r.take(8, "the header"), r.take(64, "the header")
    r.take(3, "the header")
    out.append("header %s %s" % (text(magic), quoted(product)))
    out.append("  layout %d, case size %d, compression %d, weight variable %d, cases %d, bias %s"
               % (layout, case_size, compression, weight, ncases, number(bias)))
    out.append("  created %s %s" % (text(date), text(time_)))
    out.append("  file label %s" % quoted(label.rstrip(b" ")))
    return compression, ncases, bias


def variable(r, out, index):
    width, has_label, n_missing, print_, write = r.ints(5, "a variable record")
    name = r.take(8, "a variable record").rstrip(b" ")
    line = "variable %d %s: " % (index, text(name))
    line += "numeric" if width == 0 else "string %d" % width if width > 0 else "continuation"
    line += ", print %s, write %s" % (fmt(print_), fmt(write))
    if has_label:
        n = r.int("a variable label")
        line += ", label " + quoted(r.take((n + 3) // 4 * 4, "a variable label")[:n])
    if n_missing:
        values = [r.double("missing values") for _ in range(abs(n_missing))]
        line += ", missing %s%s" % ("range " if n_missing < 0 else "",
                                    " ".join(number(v) for v in values))
    out.append(line)
    return width


def value_labels(r, out):
    count = r.int("a value label record")
    pairs = []
    for _ in range(count):
        value = r.take(8, "a value label")
        n = r.take(1, "a value label")[0]
        label = r.take((n + 1 + 7) // 8 * 8 - 1, "a value label")[:n]
        pairs.append((struct.unpack("<d", value)[0], label))
    if r.int("the variables of value labels") != 4:
        raise Broken("value labels without their variable record at byte %d" % r.at)
    n = r.int("the variables of value labels")
    indexes = r.ints(n, "the variables of value labels")
    out.append("value labels of variables %s:" % " ".join(str(i) for i in indexes))
    for value, label in pairs:
        out.append("  %s %s" % (number(value), quoted(label)))


def extension(r, out):
    subtype, size, count = r.ints(3, "an extension record")
    body = r.take(size * count, "extension record %d" % subtype)
    if subtype == 3 and size == 4 and count == 8:
        v = struct.unpack("<8i", body)
        out.append("integer info: version %d.%d.%d, machine %d, floating point %d, "
                   "compression %d, endianness %d, character code %d" % v)
    elif subtype == 4 and size == 8 and count == 3:
        v = struct.unpack("<3d", body)
        out.append("floating point info: system-missing %r, highest %r, lowest %r" % v)
    elif subtype == 11 and size == 4 and count % 3 == 0:
        v = struct.unpack("<%di" % count, body)
        out.append("display:")
        for i in range(0, count, 3):
            out.append("  variable %d: %s, width %d, %s" % (
                i // 3 + 1, MEASURES.get(v[i], str(v[i])), v[i + 1],
                ALIGNMENTS.get(v[i + 2], str(v[i + 2]))))
    elif subtype == 13 and size == 1:
        out.append("long names:")
        out.extend("  " + text(pair) for pair in body.split(b"\t") if pair)
    elif subtype == 16 and size == 8 and count == 2:
        one, ncases = struct.unpack("<2q", body)
        out.append("case count: %d (its first word %d)" % (ncases, one))
    elif subtype == 20 and size == 1:
        out.append("character encoding: %s" % quoted(body))
    elif subtype in (7, 19) and size == 1:
        out.append("multiple response sets%s:" % (" (subtype 19)" if subtype == 19 else ""))
        out.extend("  " + text(line) for line in body.split(b"\n") if line)
    else:
        out.append("extension %d, %d x %d bytes: %s" % (subtype, count, size, body.hex()))


def dictionary(r, out):
    widths = []
    while True:
        kind = r.int("the dictionary")
        if kind == 2:
            widths.append(variable(r, out, len(widths) + 1))
        elif kind == 3:
            value_labels(r, out)
        elif kind == 6:
            n = r.int("a document record")
            out.append("document:")
            for _ in range(n):
                out.append("  " + quoted(r.take(80, "a document line").rstrip(b" ")))
        elif kind == 7:
            extension(r, out)
        elif kind == 999:
            r.take(4, "the termination record")
            out.append("end of dictionary")
            return widths
        else:
            raise Broken("record type %d at byte %d" % (kind, r.at - 4))


def bytecode(r, bias, total):
    """The values of the compressed cases: a number, or None for
    system-missing. With `total` known, the codes after the last value must
    be 0 (the padding of its block) and no bytes may follow."""
    values = []
    while r.at < len(r.data) and (total is None or len(values) < total):
        for code in r.take(8, "a block of codes"):
            if total is not None and len(values) == total:
                if code != 0:
                    raise Broken("code %d after the last case, at byte %d" % (code, r.at))
            elif 1 <= code <= 251:
                values.append(code - bias)
            elif code == 253:
                # The raw values of a block follow it in the order of its codes.
                values.append(r.double("a raw value"))
            elif code == 255:
                values.append(None)
            elif code == 252:
                return values
            elif code != 0:
                raise Broken("code %d at byte %d" % (code, r.at))
    return values


def cases(r, out, widths, compression, ncases, bias):
    n = len(widths)
    if any(w != 0 for w in widths):
        out.append("cases: string variables, not shown")
        return
    total = n * ncases if ncases >= 0 else None
    if compression == 1:
        values = bytecode(r, bias, total)
    elif compression == 0:
        values = []
        while r.at < len(r.data) and (total is None or len(values) < total):
            v = r.double("a case")
            values.append(None if v == -1.7976931348623157e308 else v)
    else:
        out.append("cases: compression %d, not shown" % compression)
        return
    # A wide case is shown 16 values a line, so that a diff names the values.
    for i in range(0, len(values) - n + 1 if n else 0, n):
        for j in range(0, n, 16):
            part = " [%d-%d]" % (j + 1, min(j + 16, n)) if n > 16 else ""
            out.append("case %d%s: %s" % (i // n + 1, part, " ".join(
                "." if v is None else number(v) for v in values[i + j:i + min(j + 16, n)])))
    if total is not None and len(values) != total:
        raise Broken("%d values, the header's %d cases of %d want %d"
                     % (len(values), ncases, n, total))
    if n and len(values) % n:
        raise Broken("the last case has %d of %d values" % (len(values) % n, n))
    if r.at != len(r.data):
        raise Broken("%d bytes after the last case" % (len(r.data) - r.at))


def dump(data):
    out = []
    r = Reader(data)
    try:
        compression, ncases, bias = header(r, out)
    except ValueError:
        return ["not a system file: %s" % data[:32].hex()], None
    except Broken as e:
        return out, str(e)
    try:
        widths = dictionary(r, out)
        cases(r, out, widths, compression, ncases, bias)
    except Broken as e:
        return out, str(e)
    return out, None


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        lines, problem = dump(f.read())
    print("\n".join(lines))
    if problem:
        print("sav_dump.py: %s: %s" % (sys.argv[1], problem), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
