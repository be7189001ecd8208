#!/usr/bin/python3
"""Prints what openpyxl reads from a workbook, one line per item, for the tests
to compare with the reader:
    sheet <index> <name>          (chart sheets get "chart" appended as a field)
    active <index>
    date1904 <0|1>
    cell <sheet index> <row> <column> <type> <value>
type is n (number, shortest repr), s (string, JSON-escaped), b (0/1),
e (error text), - (no value). Dates (openpyxl turns date-formatted numbers
into them) are given back as the number stored. Fields are separated by tabs.
The cells are those of the sheet data as openpyxl reads them, before it adds
cells of its own for comments and hyperlinks and blanks merged ones.

With more than one path, each workbook's lines follow a line "file <path>",
and a workbook openpyxl cannot read gives "error <message>" instead."""

import datetime
import json
import sys
import warnings

import openpyxl
from openpyxl.utils.datetime import to_excel
from openpyxl.worksheet._reader import WorksheetReader

# The cells of each worksheet right after its sheet data was read, by worksheet.
SHEET_DATA = {}
_bind_cells = WorksheetReader.bind_cells


def bind_cells(reader):
    _bind_cells(reader)
    SHEET_DATA[id(reader.ws)] = dict(reader.ws._cells)


WorksheetReader.bind_cells = bind_cells


def dump(path):
    lines = []
    wb = openpyxl.load_workbook(path, data_only=True)
    active = wb.active
    lines.append("active\t%d" % (wb._sheets.index(active) if active is not None else -1))
    lines.append("date1904\t%d" % (1 if wb.epoch.year == 1904 else 0))
    for index, ws in enumerate(wb._sheets):
        cells = SHEET_DATA.get(id(ws)) if hasattr(ws, "_cells") else None
        lines.append("sheet\t%d\t%s%s" % (index, json.dumps(ws.title), "" if cells is not None else "\tchart"))
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
            elif isinstance(value, datetime.timedelta):  # a number shown as a duration
                kind, text = "n", repr(value.total_seconds() / 86400)
            elif isinstance(value, (int, float)):
                kind, text = "n", repr(float(value))
            else:
                kind, text = "s", json.dumps(str(value), ensure_ascii=False)
            lines.append("cell\t%d\t%d\t%d\t%s\t%s" % (index, row, column, kind, text))
    SHEET_DATA.clear()
    return lines


def main(paths):
    if len(paths) == 1:
        print("\n".join(dump(paths[0])))
        return 0
    warnings.simplefilter("ignore")
    for path in paths:
        print("file\t%s" % path)
        try:
            lines = dump(path)
        except Exception as e:  # whatever openpyxl raises on a file it cannot read
            lines = ["error\t%s" % " ".join(repr(e).split())]
        print("\n".join(lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
