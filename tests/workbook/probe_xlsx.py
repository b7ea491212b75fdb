"""Describes an .xlsx file as JSON, read by openpyxl and by the zip and XML
modules of Python, for the workbook tests to compare.

python3 probe_xlsx.py FILE
"""
import json
import posixpath
import sys
import zipfile
import xml.etree.ElementTree as ET

import openpyxl

REL = "{http://schemas.openxmlformats.org/package/2006/relationships}"
OFFICE_REL = "{http://schemas.openxmlformats.org/officeDocument/2006/relationships}"


def local(tag):
    return tag.rsplit("}", 1)[-1]


def text(value):
    if value is None:
        return None
    if isinstance(value, bool):
        return "TRUE" if value else "FALSE"
    return str(value)


def first_sheet_part(archive):
    rels = ET.fromstring(archive.read("xl/_rels/workbook.xml.rels"))
    targets = {r.get("Id"): r.get("Target") for r in rels.iter(REL + "Relationship")}
    workbook = ET.fromstring(archive.read("xl/workbook.xml"))
    sheet = next(s for s in workbook.iter() if local(s.tag) == "sheet")
    target = targets[sheet.get(OFFICE_REL + "id")]
    return target.lstrip("/") if target.startswith("/") else posixpath.normpath(posixpath.join("xl", target))


def package(path):
    out = {"zip64": False, "entries": []}
    with zipfile.ZipFile(path) as archive:
        for info in archive.infolist():
            extra = info.extra
            i = 0
            while i + 4 <= len(extra):
                header = int.from_bytes(extra[i:i + 2], "little")
                size = int.from_bytes(extra[i + 2:i + 4], "little")
                if header == 1:
                    out["zip64"] = True
                i += 4 + size
            out["entries"].append(info.filename)
        part = first_sheet_part(archive)
        root = ET.fromstring(archive.read(part))
        out["sheet_children"] = [local(child.tag) for child in root]
        links = [child for child in root if local(child.tag) == "hyperlinks"]
        out["hyperlinks_elements"] = [len(list(element)) for element in links]
        rels_part = posixpath.join(posixpath.dirname(part), "_rels", posixpath.basename(part) + ".rels")
        ids = []
        if rels_part in archive.namelist():
            ids = [r.get("Id") for r in ET.fromstring(archive.read(rels_part)).iter(REL + "Relationship")]
        out["rel_ids"] = ids
        out["cols_without_width"] = sum(1 for c in root.iter() if local(c.tag) == "col" and c.get("width") is None)
        styles = ET.fromstring(archive.read("xl/styles.xml"))
        fills = next(c for c in styles if local(c.tag) == "fills")
        out["fill_patterns"] = [next(iter(f)).get("patternType") for f in fills]
        cells = [c for c in root.iter() if local(c.tag) == "c"]
        out["cells_without_style"] = [c.get("r") for c in cells if c.get("s") is None]
    return out


def sheet(ws):
    result = {"cells": {}, "links": {}, "fills": {}, "formats": {}, "bold": []}
    for row in ws.iter_rows():
        for cell in row:
            if cell.value is not None:
                result["cells"][cell.coordinate] = text(cell.value)
                result["formats"][cell.coordinate] = cell.number_format
            if cell.hyperlink is not None:
                result["links"][cell.coordinate] = cell.hyperlink.target
            if cell.fill is not None and cell.fill.fill_type == "solid":
                result["fills"][cell.coordinate] = cell.fill.fgColor.rgb
            if cell.font is not None and cell.font.b:
                result["bold"].append(cell.coordinate)
    result["widths"] = {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth}
    result["column_formats"] = {k: d.number_format for k, d in ws.column_dimensions.items()}
    result["freeze"] = ws.freeze_panes
    return result


def main(path):
    wb = openpyxl.load_workbook(path)
    out = {
        "sheets": wb.sheetnames,
        "defined_names": {d.name: d.attr_text for d in wb.defined_names.definedName},
        "first": sheet(wb.worksheets[0]),
        "others": {ws.title: sheet(ws)["cells"] for ws in wb.worksheets[1:]},
        "package": package(path),
    }
    json.dump(out, sys.stdout, ensure_ascii=False)


if __name__ == "__main__":
    main(sys.argv[1])
