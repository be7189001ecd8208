#!/usr/bin/python3
"""Drives the Windows build of kestrova under Wine on an X server of its own,
the way a person would, and runs the Windows unit tests there.

    tests/e2e/run-e2e-windows.py [--build-win64 DIR] [--scratch DIR] [--units | --setup]

Without --units: unpacks dist/kestrova-<version>-win64.zip into a fresh Wine
prefix with a scratch home, types and pastes into the window, saves a PNG and
a JPEG through Windows' save dialog, runs workbooks in folders with Chinese
names through Windows' open dialog, and closes the window. With --units: runs
the test programs of DIR (a build with -DKESTROVA_TESTS=ON) under Wine through
ctest, serving their zbarimg and python3 (ZXing C++) calls (tests/e2e/hostbridge.py).
With --setup: installs dist/kestrova-<version>-win64-setup.exe silently into a
fresh prefix, checks the installed files, the uninstall entry and the
program's icon and version information, starts the program from its
Start-menu shortcut at 96 and at 192 DPI, and uninstalls it.
Exits 77 (skipped) when DIR holds no kestrova.exe, or for --units no tests.
--build-win64 defaults to build-win64 in the source folder; --scratch (wiped
first) to a temporary folder kept only when the run fails.
Needs wine64, the MinGW-w64 C compiler (for tests/e2e/winprobe.c, which reads
the dialogs and the clipboard from inside Wine), Xvfb, xdotool, ImageMagick,
zbarimg, python3-zxing-cpp, python3-openpyxl and, for --setup, icoutils.
"""
import argparse
import getpass
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

from desktop import (BATCH_TIMEOUT, BOARD_CODES, BOARD_FOLDER, DEVICE_CODES, DEVICE_FOLDER,
                     STEP_TIMEOUT, TYPED, X11, Desktop, Failure, die_with_parent, drive,
                     excel_button_spot, png_button_spot, say, text_box_spot)
from hostbridge import HostBridge

SOURCE = Path(__file__).resolve().parents[2]
FIXTURES = SOURCE / "tests/batch/fixtures"
SKIPPED = 77

WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
WINE_START_TIMEOUT = 120
MINGW_CC = "x86_64-w64-mingw32-gcc"
PROBE_SOURCE = Path(__file__).with_name("winprobe.c")
# A key or click whose effect has not shown within ATTEMPT_TIMEOUT seconds
# is sent again, up to ATTEMPTS times in all.
ATTEMPTS = 3
ATTEMPT_TIMEOUT = 5

# The unit tests that need nothing but the build and the host bridge.
UNIT_TESTS = ["tst_form", "tst_window", "tst_preview", "tst_export", "tst_dialoglook", "tst_renderer",
              "tst_xlsxreader", "tst_xlsxsave", "tst_xlsxbadinput", "tst_xlsxparts", "tst_xlsreader",
              "tst_csvreader", "tst_sheetrecords", "tst_batchrun", "tst_commandline"]

# Each workbook in a folder of its own on the desktop, under a Chinese name.
FOLDER = "检验台账"
CSV_DEVICES = {
    "DEV-01.png": 'Relay panel, "A" type; 2024-01-01; 2024-03-15; 7; 00123',
    "DEV-03.png": '+3; 2024-01-01; 1.50; He said "hi"',
    "设备-02.png": "继电器\n第二行; 2024-02-29; 2.5; 110101199003071234",
}
# The window's colours that the look is checked by.
BUTTON_BORDER = (0x21, 0x93, 0xFF)
BAR_TROUGH = (0x1B, 0x21, 0x42)


def near(rgb, wanted, by=24):
    return all(abs(a - b) <= by for a, b in zip(rgb, wanted))


WORKED_REPORT = ("共 5 条记录，其中 1 条未能生成二维码图片，另有 1 行未读取，2 个日期未写入，1 行的图片被覆盖：\n"
                 "工作表 device_list：\n"
                 "  第 5 行：未读取（第 1 列中间有空单元格）\n"
                 "  DEV-02.png：第 3 行第 3 列的日期是文字，未写入二维码\n"
                 "  第 4 行：名称为空\n"
                 "工作表 board_2024：\n"
                 "  BRD-7_CPU.png：第 2 行第 7 列的日期是文字，未写入二维码\n"
                 "  第 2 行：与第 4 行写入同一文件，图片被覆盖")
# Keys Windows cannot take as file names (a folder step may not end in a dot
# or a blank either); "ok" can.
RESERVED = ["CON", "nul", "COM1.backup", "LPT9", "aux.tar", "dot./x", "blank /x", "a<b", "a>b", "a:b", 'say"hi"',
            "a|b", "why?", "star*"]
NOT_A_NAME = "名称不能用作文件名"

UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrova"
SHORTCUT = "AppData/Roaming/Microsoft/Windows/Start Menu/Programs/二维码生成工具.lnk"
INSTALLED = "AppData/Local/Programs/Kestrova"
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


def csv_field(text):
    return '"' + text.replace('"', '""') + '"' if re.search(r'[",\n ]', text) else text


class WindowsRun(Desktop):
    def __init__(self, build, scratch, units, setup=False):
        super().__init__(scratch)
        self.build = build
        self.units = units
        self.setup = setup
        if setup:
            # Room for the window at 200 %.
            self.screen = "2560x1600x24"
        self.home = scratch / "home"
        self.prefix = scratch / "prefix"
        self.work = scratch / "work"
        self.app_dir = None
        self.app_log = scratch / "kestrova.log"
        self.probe_exe = None
        self.state = None
        self.window = None
        self.size = None
        self.user = getpass.getuser()

    # --- Wine ------------------------------------------------------------

    def wine_env(self, prefix=None, home=None):
        env = dict(os.environ, DISPLAY=self.display, WINEPREFIX=str(prefix or self.prefix),
                   HOME=str(home or self.home), WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.pop("WINEPATH", None)
        env.pop("QT_QPA_PLATFORM", None)
        return env

    def desktop(self):
        """The Linux folder behind C:\\users\\<user>\\Desktop."""
        return (self.prefix / "drive_c/users" / self.user / "Desktop").resolve()

    def windows_path(self, path):
        relative = path.resolve().relative_to(self.desktop())
        return "C:\\users\\" + self.user + "\\Desktop" + "".join("\\" + part for part in relative.parts)

    def make_prefix(self):
        say(f"making a Wine prefix in {self.prefix}")
        began = time.monotonic()
        env = self.wine_env()
        with open(self.scratch / "wineboot.log", "wb") as log:
            subprocess.run([WINE, "wineboot", "--init"], env=env, stdout=log, stderr=subprocess.STDOUT,
                           timeout=WINE_START_TIMEOUT, check=True)
            subprocess.run([WINESERVER, "--wait"], env=env, timeout=WINE_START_TIMEOUT, check=True)
        say(f"prefix ready after {time.monotonic() - began:.1f}s; the desktop is {self.desktop()}")

    def package(self, ending):
        """The newest dist/kestrova-*-win64<ending>, made from the build."""
        exe = self.build / "kestrova.exe"
        made = sorted((SOURCE / "dist").glob(f"kestrova-*-win64{ending}"), key=lambda p: p.stat().st_mtime)
        if not made:
            raise Failure(f"no dist/kestrova-*-win64{ending}: run scripts/build-windows.sh")
        if made[-1].stat().st_mtime < exe.stat().st_mtime:
            raise Failure(f"{made[-1].name} is older than {exe}: run scripts/build-windows.sh")
        return made[-1]

    def unpack(self):
        package = self.package(".zip")
        with zipfile.ZipFile(package) as archive:
            archive.extractall(self.scratch / "app")
        self.app_dir = next((self.scratch / "app").iterdir())
        say(f"unpacked {package.name} into {self.app_dir}")

    def start_kestrova(self):
        say(f"starting {self.app_dir / 'kestrova.exe'} under Wine in {self.work}")
        with open(self.app_log, "wb") as log:
            self.app = subprocess.Popen([WINE, str(self.app_dir / "kestrova.exe")], cwd=self.work,
                                        env=self.wine_env(), stdin=subprocess.DEVNULL, stdout=log,
                                        stderr=subprocess.STDOUT, preexec_fn=die_with_parent)

    def stop(self):
        super().stop()
        if self.display:
            subprocess.run([WINESERVER, "-k"], env=self.wine_env(), check=False, timeout=30)

    # --- what Wine shows ---------------------------------------------------

    def build_probe(self):
        """Builds tests/e2e/winprobe.c, which reads from inside Wine what X does
        not see: the controls of a dialog and Windows' own clipboard."""
        compiler = shutil.which(MINGW_CC)
        if not compiler:
            raise Failure(f"no {MINGW_CC} to build {PROBE_SOURCE.name} (scripts/install-deps.sh windows installs it)")
        self.probe_exe = self.scratch / "winprobe.exe"
        done = subprocess.run([compiler, "-municode", "-O1", "-o", str(self.probe_exe), str(PROBE_SOURCE)],
                              capture_output=True, text=True)
        if done.returncode != 0:
            raise Failure(f"{PROBE_SOURCE.name} did not build:\n{done.stderr}")

    def probe(self, *args):
        # Wine's error messages kept, to tell why a probe failed.
        env = dict(self.wine_env(), WINEDEBUG="fixme-all")
        for attempt in range(1, ATTEMPTS + 1):
            try:
                done = subprocess.run([WINE, str(self.probe_exe), *args], env=env, capture_output=True,
                                      stdin=subprocess.DEVNULL, timeout=STEP_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure(f"winprobe {args[0]} got no answer within {STEP_TIMEOUT}s")
            try:
                return json.loads(done.stdout.decode())
            except ValueError:
                answer = (f"winprobe {args[0]} answered {done.stdout!r} (status {done.returncode}): "
                          f"{done.stderr.decode(errors='replace')}")
                say(answer)
        raise Failure(answer)

    @staticmethod
    def shown(state):
        """What a dialog's state (winprobe dialog) says, for the log and for failures."""
        front = f"{state['front']!r} in front" + (f" saying {state['front_says']!r}" if state["front_says"] else "")
        if not state["found"]:
            return f"no such dialog; {front}"
        focus = {"field": "the file name field", "filter": "the file type list"}.get(state["focus"], state["focus"])
        return (f"the file name field holds {state['field']!r}, the keyboard is in {focus}, "
                f"the file type is {state['type']!r}, the list shows {state['items']!r}; {front}")

    # --- keyboard and clipboard -------------------------------------------

    def set_clipboard(self, text):
        """Puts text on Windows' clipboard from inside Wine. Text put on X's
        clipboard reaches Wine's only once Wine's clipboard thread has taken
        it in, and a paste that comes first gets the old text or nothing."""
        if not self.probe("setclipboard", text)["set"]:
            raise Failure(f"could not put {text!r} on the clipboard: {self.clipboard_text()!r} stays there")

    def clipboard_text(self):
        state = self.probe("clipboard")
        return state["text"] if state["open"] else None

    def paste(self, text):
        """Puts text in through the clipboard: xdotool types non-ASCII
        characters wrongly into Wine's windows."""
        self.set_clipboard(text)
        self.xdo("key", "ctrl+v")

    def retry(self, what, act, check, found=None):
        """Does act() and waits for check() to see its effect; does it again
        when the effect does not appear, up to ATTEMPTS times in all."""
        for attempt in range(1, ATTEMPTS + 1):
            act()
            try:
                return self.wait_for(what, check, ATTEMPT_TIMEOUT, found)
            except Failure as failure:
                if attempt == ATTEMPTS or self.app.poll() is not None:
                    raise Failure(f"{failure} (tried {attempt} times)")
                say(f"{failure}; again")

    def read_box(self, title, timeout=STEP_TIMEOUT):
        """A Qt message box on Windows copies its title, text and buttons on
        Ctrl+C; returns (window, text, buttons)."""
        box = self.wait_window(title, timeout)
        self.focus(box)
        # Something else in the clipboard first, so that the copy is seen to arrive.
        marker = f"(nothing copied from {title})"
        self.set_clipboard(marker)

        def new_text():
            text = self.clipboard_text()
            return text if text not in (None, marker) else None
        copied = self.retry(f'the text of "{title}"', lambda: self.xdo("key", "ctrl+c"), new_text)
        parts = [p.strip("\n") for p in copied.replace("\r\n", "\n").split("---------------------------\n")]
        parts = [p for p in parts if p]
        if len(parts) < 3 or parts[0] != title:
            raise Failure(f'"{title}" copied as {copied!r}')
        return box, parts[1], [b.strip() for b in parts[2].split("   ") if b.strip()]

    def answer_box(self, box, title, keys):
        self.focus(box)
        self.xdo("key", *keys)
        self.wait_gone(title, box)

    def expect_box(self, title, text, buttons, keys, timeout=STEP_TIMEOUT):
        box, shown, shown_buttons = self.read_box(title, timeout)
        self.expect(f'the text of "{title}"', shown, text)
        self.expect(f'the buttons of "{title}"', shown_buttons, buttons)
        self.answer_box(box, title, keys)

    # --- Windows' file dialogs --------------------------------------------
    # Every key goes in only once the dialog shows it will land where meant,
    # and its effect is read back from the dialog before the next one.

    def dialog(self, title):
        """The state of the file dialog (winprobe dialog), kept for failures."""
        self.state = self.probe("dialog", title)
        return self.state

    def keys_to_field(self, title):
        """Waits until the dialog is in front with the keyboard in its file name
        field; clicks into the field when the keyboard is elsewhere."""
        def click_field():
            state = self.state
            if state and state["found"] and (state["focus"] != "field" or state["front"] != title):
                left, top, right, bottom = state["field_rect"]
                say(f"clicking into the file name field: {self.shown(state)}")
                self.xdo("mousemove", str((left + right) // 2), str((top + bottom) // 2))
                self.xdo("click", "1")

        began, first = time.monotonic(), []

        def ready():
            state = self.dialog(title)
            if state["found"] and state["front"] == title and state["focus"] == "field":
                return True
            first[:1] = first[:1] or [state]
            return False
        self.retry(f'"{title}" to take keys in its file name field', click_field, ready,
                   lambda: self.shown(self.state))
        if first:
            # Keys sent before this moment would have gone astray.
            say(f'"{title}" took keys in its file name field after {time.monotonic() - began:.1f}s; '
                f'before: {self.shown(first[0])}')

    def choose_file_type(self, title, wanted):
        """Moves the file type list to wanted one key at a time (Tab into it,
        Down or Up, Shift+Tab back), each key's effect seen before the next."""
        state = self.state
        for _ in range(2 * len(state["types"]) + 2 * ATTEMPTS):
            if not state["found"]:
                raise Failure(f'"{title}" went away while its file type was chosen: {self.shown(state)}')
            if state["type"] == wanted and state["focus"] == "field":
                say(f'ok: the file type of "{title}" is {wanted}')
                return
            if wanted not in state["types"]:
                raise Failure(f'"{title}" offers no file type {wanted!r}, only {state["types"]}')
            if state["focus"] == "filter":
                types = state["types"]
                key = ("shift+Tab" if state["type"] == wanted else
                       "Down" if state["type"] not in types or types.index(wanted) > types.index(state["type"])
                       else "Up")
            else:
                self.keys_to_field(title)
                key = "Tab"
            before = (self.state["type"], self.state["focus"])
            self.xdo("key", key)
            try:
                state = self.wait_for(f"{key} to show in \"{title}\"",
                                      lambda: (self.dialog(title)["type"], self.state["focus"]) != before
                                      and self.state, ATTEMPT_TIMEOUT, lambda: self.shown(self.state))
            except Failure as failure:
                say(f"{failure}; again")
                state = self.state
        raise Failure(f'the file type of "{title}" did not become {wanted!r}: {self.shown(self.state)}')

    def fill_field(self, title, text):
        """Replaces the text of the file name field by pasting, until the field
        is read back holding text with the keyboard still in it."""
        def paste():
            self.keys_to_field(title)
            self.set_clipboard(text)
            self.xdo("key", "End", "shift+Home", "ctrl+v")

        def holds():
            state = self.dialog(title)
            return state["found"] and state["field"] == text and state["focus"] == "field" and state["front"] == title
        self.retry(f'the file name field of "{title}" to hold {text!r}', paste, holds, lambda: self.shown(self.state))

    def file_dialog(self, title, path, file_type=None):
        """Puts a Windows path into Windows' file dialog and accepts it; with
        file_type, first picks that entry of the file type list."""
        dialog = self.wait_window(title)
        self.focus(dialog)
        self.state = None
        self.keys_to_field(title)
        if file_type:
            self.choose_file_type(title, file_type)
        say(f"choosing {path}")
        for attempt in range(1, ATTEMPTS + 1):
            self.fill_field(title, path)
            self.xdo("key", "Return")
            try:
                self.wait_for(f'"{title}" to close', lambda: dialog not in self.windows(title),
                              found=lambda: self.shown(self.dialog(title)))
                return
            except Failure as failure:
                # Again only while the dialog, still in front, shows that it
                # dropped the path or took no notice of Return.
                state = self.state
                if attempt == ATTEMPTS or not state["found"] or state["front"] != title:
                    raise
                say(f"{failure}; " + ("pressing Return again" if state["field"] == path else "filling the field again"))

    # --- the run ---------------------------------------------------------

    def prepare(self):
        if self.scratch.exists():
            shutil.rmtree(self.scratch)
        # The prefix links its desktop to $HOME/Desktop when that exists.
        for folder in (self.home / "Desktop", self.work):
            folder.mkdir(parents=True)

    def live_preview(self, folder=None, scale=1):
        self.focus(self.window)
        self.click(self.window, text_box_spot(*self.size))
        # The ASCII parts typed, the Chinese pasted.
        before, chinese, after = re.match(r"^([ -~]*)([^ -~]+)([ -~]*)$", TYPED).groups()
        self.type_text(before)
        self.paste(chinese)
        self.type_text(after)
        self.check_preview(self.window, (folder or self.work) / "qrcode.png", scale)

    def export(self):
        desktop = self.desktop()
        for name, file_type, kind in (("导出.png", "(*.png)", "PNG"), ("导出.jpg", "(*.jpg)", "JPEG")):
            target = desktop / name
            self.click(self.window, png_button_spot(*self.size))
            self.file_dialog("保存文件", self.windows_path(target), file_type)
            if self.windows("警告"):
                raise Failure('the export ended with a "警告" box')
            self.expect_box("提示", "二维码图片另存成功", ["打开图片", "取消"], ["Tab", "space"])
            if not target.exists():
                raise Failure(f"no {target}; the desktop holds {sorted(p.name for p in desktop.iterdir())}")
            self.expect(f"Desktop\\{name}", self.picture(target), f"{kind} 200 200")
            self.expect(f"the code in Desktop\\{name}", self.decode(target), TYPED)

    def batch(self, folder, source, report, codes, saved_back):
        """Runs one workbook, copied into a folder of the desktop. report is
        the text of the "警告" box before the final one (None: no such box),
        codes the images wanted in each output folder, by name."""
        where = self.desktop() / folder
        where.mkdir(parents=True, exist_ok=True)
        book = where / source.name
        shutil.copy(source, book)
        before = book.read_bytes()
        self.click(self.window, excel_button_spot(*self.size))
        self.file_dialog("选择文件", self.windows_path(book))
        if report is not None:
            self.expect_box("警告", report, ["OK", "Show Details..."], ["Escape"], BATCH_TIMEOUT)
        self.expect_box("提示", "二维码信息生成成功", ["打开文件", "取消"], ["Tab", "space"], BATCH_TIMEOUT)
        self.expect(f"what the run left beside {book.name}", sorted(p.name for p in where.iterdir() if p != book),
                    sorted(codes))
        for output, images in codes.items():
            self.expect(f"{folder}\\{output}", sorted(p.name for p in (where / output).iterdir()), sorted(images))
            for name, payload in images.items():
                self.expect(f"{folder}\\{output}\\{name}", self.decode(where / output / name), payload)
        if saved_back:
            import openpyxl
            saved = openpyxl.load_workbook(book)
            self.expect("sheets of the saved-back workbook", saved.sheetnames, ["notes", "device_list", "board_2024"])
            self.expect("device_list!A2 after saving back", saved["device_list"]["A2"].value, "DEV-01")
            if book.read_bytes() == before:
                raise Failure(f"{book.name} was not saved back")
        else:
            self.expect(f"{book.name} after the run", book.read_bytes(), before)

    def reserved_names(self):
        where = self.desktop() / "保留名称"
        where.mkdir()
        book = where / "device_names.csv"
        rows = ["Key,Name"] + [f"{csv_field(key)},name {i}" for i, key in enumerate(RESERVED)] + ["ok,fine"]
        book.write_text("\r\n".join(rows) + "\r\n", encoding="utf-8")
        self.click(self.window, excel_button_spot(*self.size))
        self.file_dialog("选择文件", self.windows_path(book))
        box, text, _ = self.read_box("警告", BATCH_TIMEOUT)
        lines = text.split("\n")
        self.expect("the first line of the report", lines[0],
                    f"共 {len(RESERVED) + 1} 条记录，其中 {len(RESERVED)} 条未能生成二维码图片：")
        listed = [line.strip() for line in lines[2:]]
        self.expect("the keys listed", sorted(listed), sorted(f"{key}.png：{NOT_A_NAME}" for key in RESERVED))
        self.answer_box(box, "警告", ["Escape"])
        self.expect_box("提示", "二维码信息生成成功", ["打开文件", "取消"], ["Tab", "space"])
        self.expect("what the run wrote", sorted(p.name for p in (where / DEVICE_FOLDER).iterdir()), ["ok.png"])

    def unreadable(self):
        """A box that names a file shows a Windows path."""
        where = self.desktop() / FOLDER
        book = where / "损坏.xlsx"
        book.write_bytes(b"PK\x03\x04 not really a workbook")
        self.click(self.window, excel_button_spot(*self.size))
        self.file_dialog("选择文件", self.windows_path(book))
        box, text, _ = self.read_box("警告", BATCH_TIMEOUT)
        shown = self.windows_path(book)
        if not text.startswith(f"无法读取 {shown}："):
            raise Failure(f'the box says {text!r}, not "无法读取 {shown}：…"')
        say(f"ok: the box names {shown}")
        self.answer_box(box, "警告", ["Escape"])
        self.expect_box("警告", "二维码信息生成失败", ["OK"], ["Escape"])

    def run_units(self):
        listed = subprocess.run(["ctest", "--test-dir", str(self.build), "-N"], capture_output=True, text=True)
        known = set(re.findall(r"Test +#\d+: (\S+)", listed.stdout))
        missing = [name for name in UNIT_TESTS if name not in known]
        if missing:
            raise Failure(f"{self.build} has no {', '.join(missing)}: build it with -DKESTROVA_TESTS=ON")
        state = self.scratch / "wine-units"
        bridge = self.scratch / "bridge"
        env = dict(os.environ, DISPLAY=self.display, KESTROVA_WINE_STATE=str(state),
                   KESTROVA_HOST_BRIDGE="Z:" + str(bridge))
        pattern = "^(" + "|".join(UNIT_TESTS) + ")$"
        say(f"running {len(UNIT_TESTS)} test programs of {self.build} under Wine")
        try:
            with HostBridge(bridge, state / "prefix") as host:
                done = subprocess.run(["ctest", "--test-dir", str(self.build), "--output-on-failure", "-R", pattern],
                                      env=env, preexec_fn=die_with_parent)
        finally:
            subprocess.run([WINESERVER, "-k"], env=self.wine_env(prefix=state / "prefix"), check=False, timeout=30)
        say(f"the host bridge ran {host.served} Linux programs for them")
        if done.returncode != 0:
            raise Failure("a Windows test program failed under Wine (its output is above)")

    # --- the look at 100 % and 150 % ---------------------------------------

    def batch_button_look(self, scale):
        """"从Excel文件" over "生成", whole: two lines of white text inside the
        button's blue border, touching neither edge."""
        # The keyboard in the text box, so that no focus frame is drawn in the button.
        self.click(self.window, (round(60 * scale), round(self.size[1] - 52 * scale)))
        width, height, at = self.pixels(self.window)
        x = round(width - 40 * scale)
        blue = [y for y in range(height) if near(at(x, y), BUTTON_BORDER)]
        edges = [y for i, y in enumerate(blue) if i == 0 or y != blue[i - 1] + 1]  # each border's first row
        if len(edges) < 4:
            raise Failure(f"no two button borders in the column x={x}: blue rows {blue}")
        top, bottom = edges[0], edges[1]
        middle = (top + bottom) // 2
        sides = [i for i in range(width) if near(at(i, middle), BUTTON_BORDER)]
        inner = range(sides[0] + 2, sides[-1] - 1)
        text = [y for y in range(top, bottom + 1) if any(min(at(i, y)) > 180 for i in inner)]
        lines = [y for i, y in enumerate(text) if i == 0 or y != text[i - 1] + 1]
        if len(lines) != 2 or text[0] <= top + 1 or text[-1] >= bottom - 2:
            raise Failure(f"the batch button (rows {top} to {bottom}) shows text in rows {text}, not two whole lines")
        say(f"ok: the batch button is {bottom - top + 1} px high and shows its two lines whole")

    def progress_look(self, scale):
        """The percentage inside the progress bar, clearly apart from it."""
        where = self.desktop() / "进度"
        where.mkdir(exist_ok=True)
        shutil.copy(FIXTURES / "long.xlsx", where / "long.xlsx")
        self.click(self.window, (round(self.size[0] - 40 * scale), round(self.size[1] - 72 * scale)))
        self.file_dialog("选择文件", self.windows_path(where / "long.xlsx"))
        dialog = self.wait_window("二维码生成中", BATCH_TIMEOUT)
        self.snap(self.scratch / f"progress-{scale}.png", dialog)
        width, height, at = self.pixels(dialog)
        bar = [(x, y) for y in range(height) for x in range(width) if near(at(x, y), BAR_TROUGH)]
        if not bar:
            raise Failure("no progress bar in the progress dialog")
        left, right = min(x for x, _ in bar), max(x for x, _ in bar)
        top, bottom = min(y for _, y in bar), max(y for _, y in bar)
        lit = sum(1 for y in range(top, bottom + 1) for x in range(left, right + 1) if min(at(x, y)) > 180)
        if lit < 10 * scale:
            raise Failure(f"the progress bar ({right - left + 1} x {bottom - top + 1}) holds {lit} light pixels of text")
        say(f"ok: the percentage is drawn inside the bar ({lit} light pixels on its dark trough)")
        self.focus(dialog)
        self.xdo("key", "Escape")
        box, text, _ = self.read_box("警告", BATCH_TIMEOUT)
        if not text.startswith("已取消："):
            raise Failure(f"after Escape the box says {text!r}")
        self.answer_box(box, "警告", ["Escape"])

    def look(self, scale):
        self.batch_button_look(scale)
        self.progress_look(scale)

    def at_150_percent(self):
        """Started again at 144 DPI: the same look, one and a half times as large."""
        normal = self.size
        self.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "144", "/f")
        self.start_kestrova()
        self.main_window()
        if not all(1.4 < now / then < 1.6 for now, then in zip(self.size, normal)):
            raise Failure(f"at 144 DPI the window is {self.size}, at 96 DPI {normal}")
        self.look(1.5)
        self.close()

    # --- the setup program -----------------------------------------------

    def wine(self, *args):
        """Runs a Windows program, and whatever it starts, to the end."""
        done = subprocess.run([WINE, *args], env=self.wine_env(), capture_output=True, timeout=WINE_START_TIMEOUT)
        subprocess.run([WINESERVER, "--wait"], env=self.wine_env(), timeout=WINE_START_TIMEOUT, check=True)
        return done

    def profile(self):
        return self.prefix / "drive_c/users" / self.user

    def uninstall_entry(self):
        """The entry's values as text (a DWORD in hex), or None; through a
        .reg file, since reg query prints Chinese as "?"."""
        exported = self.scratch / "entry.reg"
        if self.wine("reg", "export", UNINSTALL_KEY, "Z:" + str(exported), "/y").returncode != 0:
            return None
        values = re.findall(r'^"(\w+)"=(?:"((?:[^"\\]|\\.)*)"|dword:([0-9a-f]{8}))\r?$',
                            exported.read_text(encoding="utf-16"), re.M)
        return {name: re.sub(r"\\(.)", r"\1", text) or number for name, text, number in values}

    def install(self):
        setup = self.package("-setup.exe")
        version = re.match(r"kestrova-(.+)-win64-setup\.exe$", setup.name).group(1)
        say(f"installing {setup.name} silently")
        self.expect("the setup program's exit status", self.wine(str(setup), "/S").returncode, 0)
        folder = self.profile() / INSTALLED
        with zipfile.ZipFile(self.package(".zip")) as archive:
            shipped = [n.split("/", 1)[1] for n in archive.namelist() if not n.endswith("/")]
        installed = [str(p.relative_to(folder)) for p in folder.rglob("*") if p.is_file()]
        self.expect(f"the files in {INSTALLED}", sorted(installed), sorted(shipped + ["uninstall.exe"]))
        entry = self.uninstall_entry() or {}
        where = f"C:\\users\\{self.user}\\{INSTALLED}".replace("/", "\\")
        wanted = {"DisplayName": "Kestrova 二维码生成工具", "DisplayVersion": version,
                  "DisplayIcon": where + "\\kestrova.exe,0", "InstallLocation": where,
                  "UninstallString": f'"{where}\\uninstall.exe"', "QuietUninstallString": f'"{where}\\uninstall.exe" /S'}
        self.expect("the uninstall entry", {k: entry.get(k) for k in wanted}, wanted)
        if not entry.get("Publisher"):
            raise Failure(f"the uninstall entry names no publisher: {entry}")
        size = sum(p.stat().st_size for p in folder.rglob("*") if p.is_file()) / 1024
        if abs(int(entry.get("EstimatedSize", "0"), 16) - size) > size * 0.05:
            raise Failure(f"EstimatedSize {entry.get('EstimatedSize')} KB for {size:.0f} KB installed")
        self.resources(folder / "kestrova.exe", version)
        return entry

    def resources(self, exe, version):
        """The icon in every size and the version information, read back from exe."""
        ico = self.scratch / "kestrova.ico"
        self.tool("wrestool", "-x", "-t", "14", "-o", str(ico), str(exe))
        listed = self.tool("icotool", "-l", str(ico)).stdout.decode()
        self.expect("the icon's sizes", sorted(int(w) for w in re.findall(r"--width=(\d+)", listed)), ICON_SIZES)
        raw = self.tool("wrestool", "-x", "--raw", "-t", "16", str(exe)).stdout.decode("utf-16-le", "replace")
        found = {key: value for key, value in re.findall(r"(ProductName|FileDescription|FileVersion|ProductVersion)"
                                                          r"\0+([^\0]+)", raw)}
        self.expect("the version information", found, {"ProductName": "Kestrova", "FileDescription": "二维码生成工具",
                                                        "FileVersion": version, "ProductVersion": version})
        manifest = self.tool("wrestool", "-x", "--raw", "-t", "24", str(exe)).stdout.decode()
        if "<dpiAwareness" not in manifest or "supportedOS" not in manifest:
            raise Failure(f"the manifest names no DPI awareness or Windows versions:\n{manifest}")

    def start_from_menu(self):
        """Starts the installed program as the Start menu does, through its
        shortcut. Wine's start does not wait for a shortcut's program, so the
        Wine session (wineserver --wait) stands for it: it ends with the program."""
        link = self.profile() / SHORTCUT
        if not link.exists():
            raise Failure(f"no shortcut {link}")
        say(f"starting {link.name}")
        # From another folder: the shortcut must give the start folder.
        with open(self.app_log, "ab") as log:
            started = subprocess.run([WINE, "start", "/unix", str(link)], cwd=self.work, env=self.wine_env(),
                                     stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                     timeout=WINE_START_TIMEOUT)
        self.expect("start's exit status", started.returncode, 0)
        self.app = subprocess.Popen([WINESERVER, "--wait"], env=self.wine_env(), preexec_fn=die_with_parent)
        self.main_window()

    def end_session(self):
        X11().close_window(self.display, self.window)
        try:
            self.app.wait(WINE_START_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure("Wine still runs after the window was asked to close")

    def scaled(self):
        """At 192 DPI the window is twice its 96-DPI size and its preview decodes."""
        normal = self.size
        self.wine("reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD", "/d", "192",
                  "/f")
        (self.profile() / "qrcode.png").unlink()
        self.start_from_menu()
        if not all(1.9 < now / then < 2.1 for now, then in zip(self.size, normal)):
            raise Failure(f"at 192 DPI the window is {self.size}, at 96 DPI {normal}")
        say(f"ok: at 192 DPI the window is {self.size[0]} x {self.size[1]}")
        self.live_preview(self.profile(), 2)
        self.end_session()

    def uninstall(self, entry):
        program, argument = re.match(r'^"([^"]+)" (.*)$', entry["QuietUninstallString"]).groups()
        say(f"uninstalling with {program} {argument}")
        self.expect("the uninstaller's exit status", self.wine(program, argument).returncode, 0)
        left = [p for p in (self.profile() / INSTALLED, self.profile() / SHORTCUT) if p.exists()]
        if left:
            raise Failure(f"left after uninstalling: {left}")
        if self.uninstall_entry() is not None:
            raise Failure(f"{UNINSTALL_KEY} is left after uninstalling")
        say("ok: the folder, the shortcut and the uninstall entry are gone")

    def run(self):
        self.prepare()
        self.start_xvfb()
        if self.units:
            self.run_units()
            return
        if self.setup:
            self.build_probe()
            self.make_prefix()
            self.install()
            # Again over the installed copy, as a newer version would be.
            entry = self.install()
            self.start_from_menu()
            self.live_preview(self.profile())
            self.end_session()
            self.scaled()
            self.uninstall(entry)
            return
        self.unpack()
        self.build_probe()
        self.make_prefix()
        self.start_kestrova()
        self.main_window()
        self.live_preview()
        self.export()
        worked = {DEVICE_FOLDER: DEVICE_CODES, BOARD_FOLDER: BOARD_CODES}
        self.batch(FOLDER, FIXTURES / "worked.xlsx", WORKED_REPORT, worked, True)
        self.batch("旧版台账", FIXTURES / "worked.xls", WORKED_REPORT, worked, False)
        self.batch("导出台账", FIXTURES / "device_gb18030.csv", None, {DEVICE_FOLDER: CSV_DEVICES}, False)
        self.reserved_names()
        self.unreadable()
        self.look(1)
        self.close()
        self.at_150_percent()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build-win64", type=Path, default=SOURCE / "build-win64")
    parser.add_argument("--scratch", type=Path)
    parser.add_argument("--units", action="store_true")
    parser.add_argument("--setup", action="store_true")
    args = parser.parse_args()
    build = args.build_win64.resolve()
    if not (build / "kestrova.exe").exists():
        print(f"skipped: no {build / 'kestrova.exe'} (scripts/build-windows.sh makes it)")
        return SKIPPED
    if args.units and not (build / "tests/ui/tst_window.exe").exists():
        print(f"skipped: {build} holds no test programs (scripts/build-windows.sh -DKESTROVA_TESTS=ON builds them)")
        return SKIPPED
    scratch = args.scratch.resolve() if args.scratch else Path(tempfile.mkdtemp(prefix="kestrova-e2e-win-"))
    return drive(WindowsRun(build, scratch, args.units, args.setup), scratch, args.scratch)


if __name__ == "__main__":
    sys.exit(main())
