#!/usr/bin/env python3
"""Checks what headless Chromium made of a zonetool analyse report.

check_report.py DOM.html SHOT.png ANALYSIS.json

DOM.html: the document as the browser built it (--dump-dom); it must hold the whole report
(the run table is its last part). SHOT.png: the browser's screenshot; it must not be blank
(at least 2% of its pixels differ from the background). The model table and each model's
estimates, selection and derived tables must show the numbers of ANALYSIS.json: the
data-value of each number cell equal to the file's number, the shown text within the 6
significant digits it is rounded to. So must the descriptive clines' table and each cline's
estimates, one row per free parameter, and every model and cline must have its figure.
"""
import json
import math
import struct
import sys
import zlib
from html.parser import HTMLParser


class Tables(HTMLParser):
    """Collects every table with an id: its rows, each a list of (text, data-value)."""

    def __init__(self):
        super().__init__()
        self.tables = {}
        self.current = None
        self.row = None
        self.cell = None

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table" and "id" in attrs:
            self.current = self.tables.setdefault(attrs["id"], [])
        elif tag == "tr" and self.current is not None:
            self.row = []
        elif tag in ("td", "th") and self.row is not None:
            self.cell = ["", attrs.get("data-value")]

    def handle_endtag(self, tag):
        if tag == "table":
            self.current = None
        elif tag == "tr" and self.row is not None:
            self.current.append(self.row)
            self.row = None
        elif tag in ("td", "th") and self.cell is not None:
            self.row.append((self.cell[0].strip(), self.cell[1]))
            self.cell = None

    def handle_data(self, data):
        if self.cell is not None:
            self.cell[0] += data


failures = []


def fail(message):
    failures.append(message)
    print("FAIL: " + message, file=sys.stderr)


def same(cell, expected, where):
    text, value = cell
    if expected is None:
        if value != "NA":
            fail(f"{where}: expected no number, found {text!r} ({value})")
        return
    if value is None or value == "NA":
        fail(f"{where}: expected {expected!r}, found {text!r}")
        return
    if float(value) != float(expected):
        fail(f"{where}: data-value {value} is not {expected!r}")
    shown = float(text.split()[0])
    if not math.isclose(shown, float(expected), rel_tol=1e-5, abs_tol=1e-300):
        fail(f"{where}: shows {text!r} for {expected!r}")


def png_pixels(path):
    """Decodes an 8-bit RGB or RGBA PNG (as Chromium writes them) into rows of pixels."""
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path} is not a PNG")
    pos, idat, width, height, kind = 8, b"", 0, 0, 0
    while pos < len(data):
        length, name = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if name == b"IHDR":
            width, height, depth, kind = struct.unpack(">IIBB", body[:10])
            if depth != 8 or kind not in (2, 6):
                raise ValueError(f"{path}: PNG of depth {depth}, colour type {kind}")
        elif name == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 3 if kind == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind_of_filter = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = previous[i]
            corner = previous[i - channels] if i >= channels else 0
            if kind_of_filter == 1:
                line[i] = (line[i] + left) & 255
            elif kind_of_filter == 2:
                line[i] = (line[i] + up) & 255
            elif kind_of_filter == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind_of_filter == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else corner)
                line[i] = (line[i] + pred) & 255
        rows.append(bytes(line))
        previous = line
    return width, height, channels, rows


def main():
    dom_path, shot_path, analysis_path = sys.argv[1:4]
    dom = open(dom_path, encoding="utf-8").read()
    analysis = json.load(open(analysis_path, encoding="utf-8"))
    parser = Tables()
    parser.feed(dom)
    tables = parser.tables
    if "run-table" not in tables:
        fail("the report did not load whole: no run table in the browser's document")
    if "<script" in dom:
        fail("the report holds a script")

    models = analysis["models"]
    rows = tables.get("model-table", [])[1:]
    if len(rows) != len(models):
        fail(f"model table: {len(rows)} rows for {len(models)} models")
    for row, m in zip(rows, models):
        where = f"model table, {m['name']}"
        if row[0][0] != m["name"]:
            fail(f"{where}: row names {row[0][0]!r}")
        for cell, key in zip(row[1:], ["k", "minus_lnL", "AICc", "dAICc", "weight",
                                       "confirmations"]):
            same(cell, m[key], f"{where}, {key}")
    for m in models:
        n = m["model"]
        for table, key, fields in (
                (f"estimates-{n}", "estimates", ["value", "lower", "upper"]),
                (f"selection-{n}", "selection", ["value", "lower", "upper"]),
                (f"derived-{n}", "derived", ["value", "lower", "upper"])):
            shown = tables.get(table, [])[1:]
            if len(shown) != len(m[key]):
                fail(f"{table}: {len(shown)} rows for {len(m[key])} entries")
                continue
            numbers = 2 if key != "derived" else 1
            for row, entry in zip(shown, m[key]):
                for cell, field in zip(row[numbers:], fields):
                    same(cell, entry[field], f"{table}, {row[0][0]}, {field}")

    clines = analysis.get("descriptive", [])
    if not clines:
        fail("analysis.json holds no descriptive clines")
    rows = tables.get("descriptive-table", [])[1:]
    if len(rows) != len(clines):
        fail(f"descriptive table: {len(rows)} rows for {len(clines)} clines")
    for row, c in zip(rows, clines):
        where = f"descriptive table, {c['shape']}"
        if row[0][0] != c["shape"]:
            fail(f"{where}: row names {row[0][0]!r}")
        for cell, key in zip(row[1:], ["k", "minus_lnL", "AICc", "dAICc"]):
            same(cell, c[key], f"{where}, {key}")
        table = f"descriptive-{c['shape']}"
        shown = tables.get(table, [])[1:]
        if len(shown) != len(c["estimates"]) or len(shown) != c["k"]:
            fail(f"{table}: {len(shown)} rows for {len(c['estimates'])} parameters, k {c['k']}")
            continue
        for row, entry in zip(shown, c["estimates"]):
            for cell, field in zip(row[2:], ["value", "lower", "upper"]):
                same(cell, entry[field], f"{table}, {row[0][0]}, {field}")
    if dom.count('<figure><svg') < 2 * len(models) + len(clines):
        fail("a figure is missing: fewer inline figures than two per model and one per cline")

    width, height, channels, pixels = png_pixels(shot_path)
    background = pixels[0][:channels]
    differing = 0
    for line in pixels[::4]:
        for x in range(0, width * channels, channels * 4):
            if line[x:x + channels] != background:
                differing += 1
    sampled = len(pixels[::4]) * len(range(0, width * channels, channels * 4))
    share = differing / sampled
    print(f"screenshot {width}x{height}: {100 * share:.1f}% of the sampled pixels drawn")
    if share < 0.02:
        fail("the screenshot is blank")
    if failures:
        sys.exit(1)
    print(f"report checked: {len(models)} models, {len(clines)} descriptive clines, "
          f"{len(tables)} tables agree with "
          f"{analysis_path}")


if __name__ == "__main__":
    main()
