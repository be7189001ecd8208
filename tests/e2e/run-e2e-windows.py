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
Needs wine64, Xvfb, xdotool, xclip, ImageMagick, zbarimg, python3-zxing-cpp,
python3-openpyxl and, for --setup, icoutils.
"""
import argparse
import getpass
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
        self.clipboard = None
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
        if self.clipboard and self.clipboard.poll() is None:
            self.clipboard.kill()
            self.clipboard.wait()
        super().stop()
        if self.display:
            subprocess.run([WINESERVER, "-k"], env=self.wine_env(), check=False, timeout=30)

    # --- keyboard and clipboard -------------------------------------------

    def own_clipboard(self, text):
        if self.clipboard and self.clipboard.poll() is None:
            self.clipboard.kill()
            self.clipboard.wait()
        self.clipboard = subprocess.Popen(["xclip", "-quiet", "-selection", "clipboard", "-i"],
                                          env=dict(os.environ, DISPLAY=self.display), stdin=subprocess.PIPE,
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.clipboard.stdin.write(text.encode())
        self.clipboard.stdin.close()
        self.wait_for("the clipboard to take the text", lambda: self.clipboard_text() == text)

    def paste(self, text):
        """Puts text in through the clipboard: xdotool types non-ASCII
        characters wrongly into Wine's windows."""
        self.own_clipboard(text)
        self.xdo("key", "ctrl+v")

    def paste_into_field(self, text):
        """Replaces the text of the field that has the keyboard, and copies
        it back to see that Wine took the clipboard's new text."""
        for attempt in range(3):
            self.own_clipboard(text)
            self.xdo("key", "End", "shift+Home", "ctrl+v", "End", "shift+Home", "ctrl+c")
            try:
                self.wait_for("the field to hold the text", lambda: self.clipboard_text() == text, timeout=3)
                return
            except Failure:
                say(f"the field holds {self.clipboard_text()!r}; pasting again")
        raise Failure(f"could not put {text!r} into the field")

    def clipboard_text(self):
        shown = self.tool("xclip", "-selection", "clipboard", "-o", check=False)
        return shown.stdout.decode(errors="replace") if shown.returncode == 0 else None

    def read_box(self, title, timeout=STEP_TIMEOUT):
        """A Qt message box on Windows copies its title, text and buttons on
        Ctrl+C; returns (window, text, buttons)."""
        box = self.wait_window(title, timeout)
        self.focus(box)
        # Something else in the clipboard first, so that the copy is seen to arrive.
        marker = f"(nothing copied from {title})"
        self.own_clipboard(marker)
        self.xdo("key", "ctrl+c")
        copied = self.wait_for(f'the text of "{title}"', lambda: (self.clipboard_text() or marker) != marker and
                               self.clipboard_text())
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

    def file_dialog(self, title, path, filter_steps=0):
        """Puts a Windows path into Windows' file dialog and accepts it;
        filter_steps first moves the file type list down that far."""
        dialog = self.wait_window(title)
        self.focus(dialog)
        if filter_steps:
            # The file type list follows the name field.
            self.xdo("key", "Tab")
            self.xdo("key", *["Down"] * filter_steps)
            self.xdo("key", "shift+Tab")
        say(f"choosing {path}")
        self.paste_into_field(path)
        self.xdo("key", "Return")
        self.wait_gone(title, dialog)

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
        for name, steps, kind in (("导出.png", 0, "PNG"), ("导出.jpg", 1, "JPEG")):
            target = desktop / name
            self.click(self.window, png_button_spot(*self.size))
            self.file_dialog("保存文件", self.windows_path(target), steps)
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
