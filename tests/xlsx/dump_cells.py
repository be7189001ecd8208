#!/usr/bin/python3
"""Prints what openpyxl reads from a workbook, one line per item, for the tests
to compare with the reader:
    sheet <index> <name>          (chart sheets get "chart" appended as a field)
    active <index>
    date1904 <0|1>
    cell <sheet index> <row> <column> <type> <value>
type is n (number, shortest repr), s (string, JSON-escaped), b (0/1),
e (error text), - (no value). Dates (openpyxl turns date-formatted numbers
into them) are given back as the number stored. Fields are separated by tabs."""

import datetime
import json
import sys

import openpyxl
from openpyxl.utils.datetime import to_excel


def main(path):
    wb = openpyxl.load_workbook(path, data_only=True)
    active = wb.active
    print("active\t%d" % (wb._sheets.index(active) if active is not None else -1))
    print("date1904\t%d" % (1 if wb.epoch.year == 1904 else 0))
    for index, ws in enumerate(wb._sheets):
        cells = getattr(ws, "_cells", None)
        print("sheet\t%d\t%s%s" % (index, json.dumps(ws.title), "" if cells is not None else "\tchart"))
        if cells is None:
            continue
        for (row, column) in sorted(cells):
            cell = cells[(row, column)]
            value = cell.value
            if value is None:
                kind, text = "-", ""
            elif isinstance(value, bool):
                kind, text = "b", "1" if value else "0"
            elif cell.data_type == "e":
                kind, text = "e", value
            elif isinstance(value, (datetime.datetime, datetime.date, datetime.time)):
                kind, text = "n", repr(float(to_excel(value, wb.epoch)))
            elif isinstance(value, (int, float)):
                kind, text = "n", repr(float(value))
            else:
                kind, text = "s", json.dumps(str(value), ensure_ascii=False)
            print("cell\t%d\t%d\t%d\t%s\t%s" % (index, row, column, kind, text))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
