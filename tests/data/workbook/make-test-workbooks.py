#!/usr/bin/python3
"""Writes the workbooks the workbook tests open, as users' tools make them.

openpyxl-catalog.xlsx   the catalogue table (rows 2..40) made with openpyxl, with
                        a user's formatting: bold header, a filled cell, column
                        widths, frozen header row, a second sheet, a defined name,
                        links on column A, a number and a boolean cell.
libreoffice-catalog.xlsx the same file loaded and saved by LibreOffice Calc.

Run from this folder: ./make-test-workbooks.py  (needs python3-openpyxl and
libreoffice-calc-nogui).
"""
import os
import shutil
import subprocess
import sys
import tempfile

from openpyxl import Workbook
from openpyxl.styles import Font, PatternFill
from openpyxl.workbook.defined_name import DefinedName

HEADERS = ["Tilausnumero", "Kuvaus", "Lisätarvikkeet"] + [f"Категория {i}" for i in range(1, 11)] + ["Картинки"]


def make_openpyxl(path):
    wb = Workbook()
    ws = wb.active
    ws.title = "Tuotteet"
    for col, text in enumerate(HEADERS + ["Paino", "Väri"], start=1):
        cell = ws.cell(row=1, column=col, value=text)
        cell.font = Font(bold=True)
    for row in range(2, 41):
        n = row - 1
        a = ws.cell(row=row, column=1, value=f"ZV-{1000 + n}")
        a.hyperlink = f"https://shop.tolmari.example/product/ZV-{1000 + n}"
        ws.cell(row=row, column=2, value=f"Tuote {n}  kuvaus")
        ws.cell(row=row, column=4, value="Sähkö")
        ws.cell(row=row, column=15, value=f"{n * 10} g")
    ws["B2"].fill = PatternFill("solid", fgColor="FFFF0000")
    ws["P2"] = 3.5
    ws["P3"] = True
    ws.column_dimensions["B"].width = 42
    ws.column_dimensions["D"].width = 18
    ws.freeze_panes = "A2"
    notes = wb.create_sheet("Muistiinpanot")
    notes["A1"] = "Käyttäjän oma taulukko"
    notes["B3"] = 12345
    wb.defined_names.append(DefinedName("Tuotteet_alue", attr_text="Tuotteet!$A$1:$B$40"))
    wb.save(path)


def make_libreoffice(source, path):
    with tempfile.TemporaryDirectory() as work:
        copy = os.path.join(work, "in.xlsx")
        shutil.copy(source, copy)
        out = os.path.join(work, "out")
        subprocess.run(["libreoffice", f"-env:UserInstallation=file://{work}/profile", "--headless",
                        "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", out, copy],
                       check=True, stdout=subprocess.DEVNULL)
        shutil.copy(os.path.join(out, "in.xlsx"), path)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(sys.argv[0]))
    make_openpyxl(os.path.join(here, "openpyxl-catalog.xlsx"))
    make_libreoffice(os.path.join(here, "openpyxl-catalog.xlsx"), os.path.join(here, "libreoffice-catalog.xlsx"))
