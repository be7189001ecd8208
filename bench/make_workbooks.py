#!/usr/bin/python3
"""Writes the workbooks the benchmarks read, into the folder given:
    /usr/bin/python3 bench/make_workbooks.py OUT
  device_10000.xlsx  sheet "device_list", 10,000 device rows
  device_warmup.xlsx sheet "device_list", 200 other device rows
  payloads.txt       key TAB payload of device_10000, one line per row, as
                     readSheetRecords builds them
  payloads_zint.txt  the payloads alone, one a line (zint --batch input)
  load_100000.xlsx   sheet "board_list", 100,000 rows x 8 columns
  load_60001.xls     sheet "board_list", 60,001 rows x 8 columns (the
                     header and 60,000 rows), saved as .xls by LibreOffice
  saveback_100000.xlsx sheets "notes" (active and selected) and, last,
                     "device_list" with 100,000 device rows, so that saving
                     it back with the last sheet selected edits both
"""
import datetime
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile

import openpyxl

ZONES = ["Zone 1", "Zone 2", "Zone 3", "Zone 4", "North hall", "Substation B"]
NAMES = ["Relay panel", "Meter cabinet", "Protection unit", "Bay controller", "Merging unit", "Switch"]
BASE = datetime.date(1899, 12, 30)  # serial days from 61 on


def serial_text(serial):
    return (BASE + datetime.timedelta(days=int(serial))).isoformat()


def device_rows(count, prefix):
    for i in range(1, count + 1):
        key = "%s-%05d" % (prefix, i)
        name = "%s %d" % (NAMES[i % len(NAMES)], i % 97)
        installed = 44927 + (i * 7) % 700
        checked = installed + 30 + (i % 60) + 0.5
        zone = ZONES[i % len(ZONES)]
        yield key, name, installed, checked, zone


def write_device(path, count, prefix, payloads=None):
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("device_list")
    ws.append(["Key", "Name", "Installed", "Checked", "Zone"])
    lines = []
    for key, name, installed, checked, zone in device_rows(count, prefix):
        ws.append([key, name, installed, checked, zone])
        lines.append((key, "%s; %s; %s; %s" % (name, serial_text(installed), serial_text(checked), zone)))
    wb.save(path)
    if payloads:
        with open(payloads, "w", encoding="utf-8") as f:
            for key, payload in sorted(lines):
                f.write("%s\t%s\n" % (key, payload))
    return lines


def write_load(path, count):
    wb = openpyxl.Workbook(write_only=True)
    ws = wb.create_sheet("board_list")
    ws.append(["No", "Board", "Type", "Version", "Serial", "Made", "Tested", "Result"])
    types = ["CPU", "MEM", "IO", "PSU", "COM"]
    for i in range(1, count + 1):
        ws.append([i, "BRD-%d" % (i % 50), types[i % len(types)], "V%d.%d" % (i % 4, i % 10),
                   "SN%08d" % (i * 7919 % 100000000), 44927 + i % 900, 45000 + i % 800 + 0.25,
                   "OK" if i % 13 else "FAIL"])
    wb.save(path)


def write_load_xls(path, count):
    """The load workbook of count rows, saved by LibreOffice as .xls."""
    with tempfile.TemporaryDirectory() as tmp:
        source = os.path.join(tmp, os.path.splitext(os.path.basename(path))[0] + ".xlsx")
        write_load(source, count)
        subprocess.run(["soffice", "-env:UserInstallation=file://" + os.path.join(tmp, "profile"), "--headless",
                        "--convert-to", "xls", "--outdir", tmp, source], check=True, stdout=subprocess.DEVNULL)
        shutil.copyfile(os.path.splitext(source)[0] + ".xls", path)


def write_saveback(path, count):
    wb = openpyxl.Workbook(write_only=True)
    notes = wb.create_sheet("notes")
    notes.append(["Devices of the site, one a row in device_list"])
    ws = wb.create_sheet("device_list")
    ws.append(["Key", "Name", "Installed", "Checked", "Zone"])
    for row in device_rows(count, "SAV"):
        ws.append(list(row))
    wb.save(path + ".tmp")
    # openpyxl marks no tab selected; Excel marks the active one.
    with zipfile.ZipFile(path + ".tmp") as source, zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as target:
        for info in source.infolist():
            data = source.read(info)
            if info.filename == "xl/worksheets/sheet1.xml":
                data = data.replace(b"<sheetView ", b'<sheetView tabSelected="1" ', 1)
            target.writestr(info, data, zipfile.ZIP_DEFLATED)
    os.remove(path + ".tmp")


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    lines = write_device(os.path.join(out, "device_10000.xlsx"), 10000, "DEV",
                         os.path.join(out, "payloads.txt"))
    with open(os.path.join(out, "payloads_zint.txt"), "w", encoding="utf-8") as f:
        for _, payload in sorted(lines):
            f.write(payload + "\n")
    write_device(os.path.join(out, "device_warmup.xlsx"), 200, "WARM")
    write_load(os.path.join(out, "load_100000.xlsx"), 100000)
    write_load_xls(os.path.join(out, "load_60001.xls"), 60000)
    write_saveback(os.path.join(out, "saveback_100000.xlsx"), 100000)


if __name__ == "__main__":
    main()
