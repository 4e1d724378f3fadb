#!/usr/bin/env python3
"""Prints the sheets of an .xlsx file as JSON, for the export tests.

{"sheets": [{"name": ..., "cells": [[row, column, type, text], ...]}, ...]}
Rows and columns count from 1; type is the cell's t attribute ("s", "inlineStr", "str", "n", ...);
text is the cell's text as the file gives it (shared strings resolved).
Standard library only.
"""
import json
import re
import sys
import zipfile
import xml.etree.ElementTree as ET

NS = {
    "m": "http://schemas.openxmlformats.org/spreadsheetml/2006/main",
    "r": "http://schemas.openxmlformats.org/officeDocument/2006/relationships",
    "p": "http://schemas.openxmlformats.org/package/2006/relationships",
}


def text_of(node):
    # A string item is either one <t> or rich-text runs <r><t>.
    return "".join(t.text or "" for t in node.iter("{%s}t" % NS["m"]))


def position(ref):
    letters, digits = re.fullmatch(r"([A-Z]+)(\d+)", ref).groups()
    column = 0
    for ch in letters:
        column = column * 26 + (ord(ch) - ord("A") + 1)
    return int(digits), column


def main(path):
    with zipfile.ZipFile(path) as z:
        names = set(z.namelist())
        shared = []
        if "xl/sharedStrings.xml" in names:
            root = ET.fromstring(z.read("xl/sharedStrings.xml"))
            shared = [text_of(si) for si in root.findall("m:si", NS)]
        rels = ET.fromstring(z.read("xl/_rels/workbook.xml.rels"))
        targets = {r.get("Id"): r.get("Target") for r in rels.findall("p:Relationship", NS)}
        workbook = ET.fromstring(z.read("xl/workbook.xml"))
        sheets = []
        for sheet in workbook.find("m:sheets", NS).findall("m:sheet", NS):
            target = targets[sheet.get("{%s}id" % NS["r"])].lstrip("/")
            if not target.startswith("xl/"):
                target = "xl/" + target
            data = ET.fromstring(z.read(target))
            cells = []
            for c in data.iter("{%s}c" % NS["m"]):
                row, column = position(c.get("r"))
                kind = c.get("t", "n")
                if kind == "s":
                    text = shared[int(c.find("m:v", NS).text)]
                elif kind == "inlineStr":
                    text = text_of(c.find("m:is", NS))
                else:
                    v = c.find("m:v", NS)
                    text = v.text if v is not None else ""
                cells.append([row, column, kind, text])
            sheets.append({"name": sheet.get("name"), "cells": cells})
    json.dump({"sheets": sheets}, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
