#!/usr/bin/python3
"""Drives the built kestrova on an X server of its own (Xvfb) the way a person
would: types into the window, saves through the save dialog, runs a batch
through the open dialog, then closes the window.

    tests/e2e/run-e2e.py [--kestrova PATH] [--scratch DIR] [--screenshot PNG] [--dialog-screenshot PNG]

--kestrova defaults to ${BUILD_DIR:-build}/kestrova; --scratch (wiped first)
defaults to a temporary folder that is kept only when the run fails;
--screenshot also writes the window, with a code in its preview, to PNG;
--dialog-screenshot the save dialog as it opens.
Needs Xvfb, xdotool, ImageMagick, zbarimg, python3-zxing-cpp and python3-openpyxl.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

from desktop import (BATCH_TIMEOUT, BOARD_CODES, BOARD_FOLDER, DEVICE_CODES, DEVICE_FOLDER, DEVICE_LOG, EXIT_TIMEOUT,
                     TYPED, X11, Desktop, Failure, die_with_parent, drive,
                     excel_button_spot, png_button_spot, say, text_box_spot)

SOURCE = Path(__file__).resolve().parents[2]
WORKBOOK = SOURCE / "tests/batch/fixtures/worked.xlsx"

EXPORT_NAME = "导出.jpg"
LONG_CSV = "device_long.csv"


class Run(Desktop):
    def __init__(self, kestrova, scratch, screenshot, dialog_screenshot):
        super().__init__(scratch)
        self.kestrova = kestrova
        self.screenshot_to = screenshot
        self.dialog_screenshot_to = dialog_screenshot
        self.home = scratch / "home"
        self.work = scratch / "work"
        self.books = scratch / "books"
        self.out = scratch / "out"
        self.fakebin = scratch / "bin"
        self.opened = scratch / "opened.log"
        self.app_log = scratch / "kestrova.log"
        self.window = None
        self.size = None

    def start_kestrova(self):
        env = {
            "PATH": f"{self.fakebin}:{os.environ.get('PATH', '/usr/bin:/bin')}",
            "HOME": str(self.home),
            "DISPLAY": self.display,
            "QT_QPA_PLATFORM": "xcb",
            "LANG": "C.UTF-8",
            "LC_ALL": "C.UTF-8",
            "XDG_RUNTIME_DIR": str(self.scratch / "runtime"),
            "QT_FORCE_STDERR_LOGGING": "1",
        }
        if "LD_LIBRARY_PATH" in os.environ:
            env["LD_LIBRARY_PATH"] = os.environ["LD_LIBRARY_PATH"]
        say(f"starting {self.kestrova} in {self.work}")
        with open(self.app_log, "wb") as log:
            self.app = subprocess.Popen([str(self.kestrova)], cwd=self.work, env=env, stdin=subprocess.DEVNULL,
                                        stdout=log, stderr=subprocess.STDOUT, preexec_fn=die_with_parent)

    def nothing_opened(self):
        if self.opened.exists():
            raise Failure("the program asked the desktop to open: " + self.opened.read_text().strip())

    # --- the run ---------------------------------------------------------

    def prepare(self):
        if self.scratch.exists():
            shutil.rmtree(self.scratch)
        for folder in (self.home / "Desktop", self.work, self.books, self.out, self.fakebin):
            folder.mkdir(parents=True)
        (self.scratch / "runtime").mkdir(mode=0o700)
        shutil.copy(WORKBOOK, self.books / WORKBOOK.name)
        # Stands in for the desktop's opener, so "打开…" is seen, not acted on.
        opener = self.fakebin / "xdg-open"
        opener.write_text(f'#!/bin/sh\necho "$@" >> "{self.opened}"\n')
        opener.chmod(0o755)

    def live_preview(self):
        self.focus(self.window)
        self.click(self.window, text_box_spot(*self.size))
        say(f"typing {TYPED!r}")
        self.type_text(TYPED)
        self.check_preview(self.window, self.work / "qrcode.png")
        if self.screenshot_to:
            self.keep_screenshot(self.window, self.screenshot_to)

    def export(self):
        target = self.out / EXPORT_NAME
        self.click(self.window, png_button_spot(*self.size))
        dialog = self.wait_window("保存文件")
        if self.dialog_screenshot_to:
            self.keep_screenshot(dialog, self.dialog_screenshot_to)
        self.focus(dialog)
        self.xdo("key", "ctrl+a")
        say(f"saving as {target}")
        self.type_text(str(target))
        self.xdo("key", "Return")
        self.wait_gone("保存文件", dialog)
        if self.windows("警告"):
            raise Failure('the export ended with a "警告" box')
        self.cancel_box("提示")
        if not target.exists():
            raise Failure(f"no {target}; out/ holds {sorted(p.name for p in self.out.iterdir())}")
        self.expect(f"out/{EXPORT_NAME}", self.picture(target), "JPEG 200 200")
        self.expect("the exported code", self.decode(target), TYPED)
        self.nothing_opened()

    def batch(self):
        workbook = self.books / WORKBOOK.name
        self.click(self.window, excel_button_spot(*self.size))
        dialog = self.wait_window("选择文件")
        self.focus(dialog)
        say(f"opening {workbook}")
        self.type_text(str(workbook))
        self.xdo("key", "Return")
        self.wait_gone("选择文件", dialog)

        # The worked example leaves a row, two text dates and a nameless
        # record out: a "警告" box tells of them before the final box.
        account = self.wait_window("警告", BATCH_TIMEOUT)
        self.focus(account)
        self.xdo("key", "Escape")
        self.wait_gone("警告", account)

        def outcome():
            return ("提示" if self.windows("提示") else None) or ("警告" if self.windows("警告") else None)

        if self.wait_for("the batch to end with a box", outcome, BATCH_TIMEOUT) == "警告":
            raise Failure('the batch ended with a "警告" box (二维码信息生成失败: '
                          "the workbook could not be read or saved back)")
        self.cancel_box("提示")

        for folder, codes in ((DEVICE_FOLDER, DEVICE_CODES), (BOARD_FOLDER, BOARD_CODES)):
            where = self.books / folder
            files = sorted(p.name for p in where.iterdir()) if where.is_dir() else "<no folder>"
            self.expect(f"files in {folder}", files, sorted(codes))
            for name, payload in codes.items():
                self.expect(f"{folder}/{name}", self.decode(where / name), payload)
        self.expect("what the batch left beside the workbook",
                    sorted(p.name for p in self.books.iterdir() if p.name != LONG_CSV),
                    sorted([WORKBOOK.name, DEVICE_FOLDER, BOARD_FOLDER]))

        logged = [line for line in self.app_log.read_text(errors="replace").splitlines() if line in DEVICE_LOG]
        self.expect("device payloads in the program's log", logged, DEVICE_LOG)

        import openpyxl
        saved = openpyxl.load_workbook(workbook)
        self.expect("sheets of the saved-back workbook", saved.sheetnames, ["notes", "device_list", "board_2024"])
        self.expect("device_list!A2 after saving back", saved["device_list"]["A2"].value, "DEV-01")
        self.nothing_opened()

    def cancel_by_closing(self):
        """Starts a long batch, closes the window during it: the run stops,
        says how far it got, and then the window closes."""
        rows = 5000
        book = self.books / LONG_CSV
        book.write_text("Key,Name\n" + "".join(f"L{i:05d},long run {i}\n" for i in range(rows)))
        self.click(self.window, excel_button_spot(*self.size))
        dialog = self.wait_window("选择文件")
        self.focus(dialog)
        self.type_text(str(book))
        self.xdo("key", "Return")
        self.wait_gone("选择文件", dialog)
        self.wait_window("二维码生成中", BATCH_TIMEOUT)
        say(f"asking window {self.window} to close during the batch")
        X11().close_window(self.display, self.window)
        box = self.wait_window("警告")
        written = len(list((self.books / DEVICE_FOLDER).glob("L*.png")))
        if not 0 < written < rows:
            raise Failure(f"{written} of {rows} images written before the cancel")
        say(f"ok: cancelled after {written} images")
        self.focus(box)
        self.xdo("key", "Escape")
        try:
            status = self.app.wait(EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"kestrova still runs {EXIT_TIMEOUT}s after the cancel box of a closed window")
        self.expect("kestrova's exit status", status, 0)
        self.expect(f"{LONG_CSV} after the cancel", book.read_text().count("\n"), rows + 1)

    def run(self):
        self.prepare()
        self.start_xvfb()
        # Keys for what is not on the keyboard, bound before the program reads the map.
        typed = TYPED + str(self.out / EXPORT_NAME) + str(self.books / WORKBOOK.name) + str(self.books / LONG_CSV)
        extra = sorted({char for char in typed if ord(char) > 0x7e})
        say(f"binding keys for {''.join(extra)!r}")
        X11().bind_characters(self.display, extra)
        self.start_kestrova()
        self.main_window()
        self.live_preview()
        self.export()
        self.batch()
        self.cancel_by_closing()
        # The opener starts detached; by now it would have written its line.
        self.nothing_opened()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--kestrova", type=Path,
                        default=SOURCE / os.environ.get("BUILD_DIR", "build") / "kestrova")
    parser.add_argument("--scratch", type=Path)
    parser.add_argument("--screenshot", type=Path)
    parser.add_argument("--dialog-screenshot", type=Path)
    args = parser.parse_args()
    if not os.access(args.kestrova, os.X_OK):
        sys.exit(f"no program at {args.kestrova} (build first, or pass --kestrova)")
    scratch = args.scratch.resolve() if args.scratch else Path(tempfile.mkdtemp(prefix="kestrova-e2e-"))
    screenshot = args.screenshot.resolve() if args.screenshot else None
    dialog_screenshot = args.dialog_screenshot.resolve() if args.dialog_screenshot else None

    return drive(Run(args.kestrova.resolve(), scratch, screenshot, dialog_screenshot), scratch, args.scratch)


if __name__ == "__main__":
    sys.exit(main())
