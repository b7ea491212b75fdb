#!/usr/bin/env python3
"""Writes a catalogue workbook built to cost the program as much memory as a
workbook may: every part the program holds grown towards its own cap, so that
together they reach the bound on what an open workbook may hold.

    hostile_workbook.py KIND FILE [MB]

KIND is one of
  sheet     a worksheet of about MB megabytes of rows
  column-a  rows with 100 characters of text in column A each, MB in all
  strings   about MB megabytes of shared strings
  trees     styles, the sheet outside its rows and the sheet's relationships,
            each just under the 1,000,000-node cap of a tree
  all       a third of MB each in the sheet and the shared strings, and
            trees of a third of the node cap each
MB defaults to 180.
"""
import sys
import zipfile

MAIN = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG = "http://schemas.openxmlformats.org/package/2006/relationships"
MB = 1024 * 1024
TREE_NODES = 950_000

HEADER = ('<row r="1"><c r="A1" t="inlineStr"><is><t>Tilausnumero</t></is></c>'
          '<c r="C1" t="inlineStr"><is><t>Lisätarvikkeet</t></is></c></row>')


def rows(count, column_a, column_b):
    for r in range(2, count + 2):
        yield (f'<row r="{r}"><c r="A{r}" t="inlineStr"><is><t>{column_a(r)}</t></is></c>'
               f'<c r="B{r}" t="inlineStr"><is><t>{column_b}</t></is></c></row>')


def sheet(body_rows, outside=""):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            f'<worksheet xmlns="{MAIN}" xmlns:r="{REL}"><sheetData>{HEADER}'
            + "".join(body_rows) + f'</sheetData>{outside}</worksheet>')


def elements(count):
    return "<x/>" * count


def shared_strings(total_bytes):
    item = "y" * 1000
    count = total_bytes // len(item)
    return (f'<sst xmlns="{MAIN}" count="{count}" uniqueCount="{count}">'
            + f"<si><t>{item}</t></si>" * count + "</sst>")


def write(path, sheet_xml, strings=None, styles=None, sheet_rels=None):
    overrides = ('<Override PartName="/xl/workbook.xml" ContentType="application/'
                 'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
                 '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/'
                 'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>')
    relationships = f'<Relationship Id="rId1" Type="{REL}/worksheet" Target="worksheets/sheet1.xml"/>'
    if strings is not None:
        relationships += f'<Relationship Id="rId2" Type="{REL}/sharedStrings" Target="sharedStrings.xml"/>'
    if styles is not None:
        relationships += f'<Relationship Id="rId3" Type="{REL}/styles" Target="styles.xml"/>'
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml",
                   '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
                   '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
                   '<Default Extension="xml" ContentType="application/xml"/>'
                   + overrides + "</Types>")
        z.writestr("_rels/.rels", f'<Relationships xmlns="{PKG}"><Relationship Id="rId1" '
                   f'Type="{REL}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
        z.writestr("xl/workbook.xml", f'<workbook xmlns="{MAIN}" xmlns:r="{REL}"><sheets>'
                   '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>')
        z.writestr("xl/_rels/workbook.xml.rels",
                   f'<Relationships xmlns="{PKG}">{relationships}</Relationships>')
        z.writestr("xl/worksheets/sheet1.xml", sheet_xml)
        if strings is not None:
            z.writestr("xl/sharedStrings.xml", strings)
        if styles is not None:
            z.writestr("xl/styles.xml", f'<styleSheet xmlns="{MAIN}">{styles}</styleSheet>')
        if sheet_rels is not None:
            z.writestr("xl/worksheets/_rels/sheet1.xml.rels",
                       f'<Relationships xmlns="{PKG}">{sheet_rels}</Relationships>')


def main():
    kind, path = sys.argv[1], sys.argv[2]
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 180
    if kind == "sheet":
        write(path, sheet(rows(size * 1000, lambda r: f"ZV-{r}", "z" * 1000)))
    elif kind == "column-a":
        # A row is about 180 bytes of XML.
        write(path, sheet(rows(min(size * MB // 180, 1_048_000), lambda r: f"{r:0100d}", "")))
    elif kind == "strings":
        write(path, sheet(rows(10, lambda r: f"ZV-{r}", "")), strings=shared_strings(size * MB))
    elif kind == "trees":
        filler = elements(TREE_NODES)
        write(path, sheet(rows(10, lambda r: f"ZV-{r}", ""), f"<extLst>{filler}</extLst>"),
              styles=filler, sheet_rels=filler)
    elif kind == "all":
        write(path, sheet(rows(size * 1000 // 3, lambda r: f"ZV-{r}", "z" * 1000),
                          f"<extLst>{elements(TREE_NODES // 3)}</extLst>"),
              strings=shared_strings(size * MB // 3), styles=elements(TREE_NODES // 3),
              sheet_rels=elements(TREE_NODES // 3))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
