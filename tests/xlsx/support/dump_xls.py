#!/usr/bin/python3
"""Prints what xlrd reads from an .xls workbook, for the tests to compare with
the reader:
    date1904 <0|1>
    sheet <name> <visibility: 0 visible, 1 hidden, 2 very hidden>
    <row>,<column> <kind>:<value>
one line per cell of each worksheet (chart and macro sheets are left out), in
the form the tests' cellLines gives: n: a number to 15 significant digits,
s: text (errors as their text), b: true or false, - a cell without a value.
Line breaks in text are written \\n."""

import sys

import xlrd


def text(value):
    return value.replace("\\", "\\\\").replace("\n", "\\n").replace("\r", "\\r")


def main(path):
    book = xlrd.open_workbook(path, formatting_info=True)
    print("date1904\t%d" % book.datemode)
    for sheet in book.sheets():
        print("sheet\t%s\t%d" % (sheet.name, sheet.visibility))
        for row in range(sheet.nrows):
            for column in range(sheet.row_len(row)):
                cell = sheet.cell(row, column)
                kind = cell.ctype
                if kind == xlrd.XL_CELL_EMPTY:
                    continue
                if kind in (xlrd.XL_CELL_NUMBER, xlrd.XL_CELL_DATE):
                    value = "n:%.15g" % cell.value
                elif kind == xlrd.XL_CELL_TEXT:
                    value = "s:" + text(cell.value)
                elif kind == xlrd.XL_CELL_BOOLEAN:
                    value = "b:" + ("true" if cell.value else "false")
                elif kind == xlrd.XL_CELL_ERROR:
                    value = "s:" + xlrd.error_text_from_code.get(cell.value, "?")
                else:
                    value = "-"
                print("%d,%d %s" % (row + 1, column + 1, value))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
