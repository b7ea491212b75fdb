"""Prints the first worksheet of an .xlsx file as JSON, read by openpyxl:
{"rows": [[{"v": text or null, "l": link target or null}, ...], ...]}.

python3 workbook_rows.py FILE
"""
import json
import sys

import openpyxl


def main(path):
    book = openpyxl.load_workbook(path)
    sheet = book.worksheets[0]
    rows = []
    for row in sheet.iter_rows():
        rows.append([{"v": None if c.value is None else str(c.value),
                      "l": c.hyperlink.target if c.hyperlink is not None else None}
                     for c in row])
    sys.stdout.write(json.dumps({"rows": rows}, ensure_ascii=False))


if __name__ == "__main__":
    main(sys.argv[1])
